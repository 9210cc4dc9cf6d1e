// The install action's reader of CustomActionData: which texts it takes and which it rejects.
#include "InstallerFixture.h"
#include "cost/CustomActionData.h"
#include "msi/Properties.h"

using namespace qxtest;

namespace {

class ActionDataTest : public InstallerTest { };

struct Item {
    const wchar_t* object;
    LockObjectKind kind;
    SE_OBJECT_TYPE type;
    const wchar_t* domain;
    const wchar_t* user;
    DWORD permission;
    DWORD flags;
};

TEST_F(ActionDataTest, ReaderTakesSixOrMoreFieldsAndRejectsShortRecords)
{
    const Item kFile = {L"C:\\a.txt", LockObjectKind::File, SE_FILE_OBJECT, L"", L"Everyone", 1, 8};
    const struct {
        const char* name;
        const wchar_t* text;
        DWORD status;
        std::vector<Item> items;
    } cases[] = {
        {"extra fields ignored", L"C:\\a.txt|File||Everyone|1|8|extra|more", 0, {kFile}},
        {"trailing record separator", L"C:\\a.txt|File||Everyone|1|8*", 0, {kFile}},
        {"lower-case word and top bits",
         L"MACHINE\\Software|registry|DOM|bob|-2147483648|-1",
         0,
         {{L"MACHINE\\Software", LockObjectKind::Registry, SE_REGISTRY_KEY, L"DOM", L"bob", 0x80000000, 0xFFFFFFFF}}},
        {"unknown word accepted",
         L"X|Files||Everyone|1|8",
         0,
         {{L"X", LockObjectKind::Unknown, SE_UNKNOWN_OBJECT_TYPE, L"", L"Everyone", 1, 8}}},
        {"five fields", L"C:\\a.txt|File||Everyone|1", ERROR_INVALID_PARAMETER, {}},
        // Nothing is escaped: a "*" in a key cuts the record.
        {"star in key", L"MACHINE\\Soft*ware|Registry||Users|1|8", ERROR_INVALID_PARAMETER, {}},
        // Records before the bad one stay parsed; nothing is applied because the action fails.
        {"empty record",
         L"C:\\a.txt|File||Everyone|1|8**C:\\b.txt|File||Everyone|1|8",
         ERROR_INVALID_PARAMETER,
         {kFile}},
    };
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0u, SetProperty(L"CustomActionData", c.text));
        m_log.Clear();
        std::vector<PermissionsItem> items;

        EXPECT_EQ(c.status, ParseCustomActionData(::GetProperty(Session(), L"CustomActionData"), items, m_sessionLog));
        EXPECT_EQ(c.status ? std::vector<std::wstring>{L"Item contains invalid data"} : std::vector<std::wstring>{},
                  m_log.LibraryMessages());
        ASSERT_EQ(c.items.size(), items.size());
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            const Item& want = c.items[i];
            const PermissionsItem& item = items[i];
            EXPECT_EQ(want.object, item.m_strObjectName.str());
            EXPECT_EQ(want.kind, item.m_kind);
            EXPECT_EQ(want.type, item.m_objectType);
            EXPECT_EQ(want.domain, item.m_strDomain.str());
            EXPECT_EQ(want.user, item.m_strUser.str());
            EXPECT_EQ(want.permission, item.m_dwPermission);
            EXPECT_EQ(want.flags, item.m_dwFlags);
        }
    }
}

} // namespace
