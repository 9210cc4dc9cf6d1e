// Generated texts through the real route: the session's CustomActionData property,
// read by the install action's reader, with its log lines as the installer shows them.
// The cost group reads many more texts through the parser alone.
#include "InstallerFixture.h"
#include "cost/ActionDataModel.h"
#include "cost/CustomActionData.h"
#include "msi/Properties.h"

using namespace qxtest;

namespace {

class ActionDataFuzzTest : public InstallerTest {
protected:
    datamodel::Result ReadThroughSession(const std::wstring& text)
    {
        EXPECT_EQ(SetProperty(L"CustomActionData", text), 0u);
        m_log.Clear();
        std::vector<PermissionsItem> items;
        datamodel::Result result;
        result.status = ParseCustomActionData(::GetProperty(Session(), L"CustomActionData"), items, m_sessionLog);
        result.lines = m_log.LibraryMessages();
        for (const PermissionsItem& item : items) {
            result.items.push_back({item.m_strObjectName.str(), item.m_kind, item.m_objectType, item.m_strDomain.str(),
                                    item.m_strUser.str(), item.m_dwPermission, item.m_dwFlags});
        }
        return result;
    }
};

TEST_F(ActionDataFuzzTest, PropertyTextsReadAsTheModelReadsThem)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    const unsigned seed = datamodel::FromEnvironment(L"QX_FUZZ_SEED", 20240607);
    datamodel::Generator generator(seed);
    std::vector<std::wstring> texts = {L"", std::wstring(100000, L'n') + L"|File||Everyone|1|8"};
    std::wstring manyRecords;
    for (int i = 0; i < 100000; ++i) {
        manyRecords += (i ? L"*C:\\f" : L"C:\\f") + std::to_wstring(i) + L"|Registry|D|U|-" + std::to_wstring(i) +
                       L"|" + std::to_wstring(i);
    }
    texts.push_back(manyRecords);
    texts.push_back(manyRecords + L"**");
    // An installer property holds no NUL; everything else goes.
    for (int i = 0; i < 500; ++i) {
        texts.push_back(generator.Next(false));
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        datamodel::Result session = ReadThroughSession(texts[i]);
        datamodel::Result model = datamodel::Read(texts[i]);
        EXPECT_EQ(session.status, model.status) << "case " << i << ": '" << datamodel::Escaped(texts[i]) << "'";
        EXPECT_EQ(session.lines, model.lines) << "case " << i;
        EXPECT_EQ(session.items.size(), model.items.size()) << "case " << i;
        EXPECT_TRUE(session.items == model.items) << "case " << i << ": '" << datamodel::Escaped(texts[i]) << "'";
    }
}

} // namespace
