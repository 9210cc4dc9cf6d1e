// The custom action data reader against generated and adversarial texts, and the
// writer and reader against each other. Every text is also read by the model of
// ActionDataModel.h; the two readings must agree in status, log line and items.
//
// QX_FUZZ_CASES (default 100000) and QX_FUZZ_SEED (default 20240607) choose how
// many generated texts are read and from which seed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ActionDataModel.h"
#include "cost/CustomActionData.h"
#include "RecordingLog.h"

namespace {

using RecordingLogger = qxtest::RecordingLog;

datamodel::Result ParseWithLibrary(const std::wstring& text, RecordingLogger& logger)
{
    logger.lines.clear();
    std::vector<PermissionsItem> items;
    datamodel::Result result;
    result.status = ParseCustomActionData(_stringx<>(text.data(), text.size()), items, logger);
    result.lines = logger.lines;
    for (const PermissionsItem& item : items) {
        result.items.push_back({item.m_strObjectName.str(), item.m_kind, item.m_objectType, item.m_strDomain.str(),
                                item.m_strUser.str(), item.m_dwPermission, item.m_dwFlags});
    }
    return result;
}

std::string Describe(const datamodel::Result& result)
{
    std::string text = "status " + std::to_string(result.status) + ", " + std::to_string(result.items.size()) +
                       " items, " + std::to_string(result.lines.size()) + " lines";
    if (!result.items.empty()) {
        const datamodel::Item& last = result.items.back();
        text += "; last item '" + datamodel::Escaped(last.object, 60) + "' '" + datamodel::Escaped(last.domain, 60) +
                "' '" + datamodel::Escaped(last.user, 60) + "' kind " + std::to_string(static_cast<int>(last.kind)) +
                " type " + std::to_string(last.type) + " " + std::to_string(last.permission) + " " +
                std::to_string(last.flags);
    }
    return text;
}

} // namespace

TEST(CustomActionDataFuzz, GeneratedTextsReadAsTheModelReadsThem)
{
    const unsigned cases = datamodel::FromEnvironment(L"QX_FUZZ_CASES", 100000);
    const unsigned seed = datamodel::FromEnvironment(L"QX_FUZZ_SEED", 20240607);
    datamodel::Generator generator(seed);
    RecordingLogger logger;
    unsigned failures = 0;
    unsigned statusCounts[3] = {};
    for (unsigned i = 0; i < cases; ++i) {
        const std::wstring text = generator.Next();
        datamodel::Result library = ParseWithLibrary(text, logger);
        datamodel::Result model = datamodel::Read(text);
        bool agree = library == model;
        statusCounts[library.status == 0 ? 0 : library.status == ERROR_INVALID_PARAMETER ? 1 : 2]++;
        if (!agree && ++failures <= 3) {
            ADD_FAILURE() << "seed " << seed << ", case " << i << ": '" << datamodel::Escaped(text)
                          << "'\n  reader: " << Describe(library) << "\n  model:  " << Describe(model);
        }
    }
    EXPECT_EQ(failures, 0u) << "of " << cases << " cases";
    // The generators reach every outcome, or the comparison proves little.
    if (cases >= 1000) {
        EXPECT_GT(statusCounts[0], cases / 10);
        EXPECT_GT(statusCounts[1], cases / 10);
        EXPECT_GT(statusCounts[2], 0u);
    }
}

TEST(CustomActionDataFuzz, OversizedTextsReadWhole)
{
    const std::wstring longName(100000, L'n');
    const std::wstring longDigits(100000, L'9');
    std::wstring manyRecords;
    for (int i = 0; i < 100000; ++i) {
        manyRecords += L"C:\\f" + std::to_wstring(i) + L"|File||Everyone|" + std::to_wstring(i) + L"|8*";
    }
    const struct {
        const char* name;
        std::wstring text;
        DWORD status;
        std::size_t items;
    } cases[] = {
        {"100,000-character object name", longName + L"|File||Everyone|1|8", 0, 1},
        {"100,000-character domain and user", L"x|Registry|" + longName + L"|" + longName + L"|1|8", 0, 1},
        {"100,000 digits in the numbers", L"x|File||Everyone|" + longDigits + L"|-" + longDigits, 0, 1},
        {"100,000 signs", L"x|File||Everyone|" + std::wstring(100000, L'-') + L"|" + std::wstring(100000, L'+'), 0, 1},
        {"100,000 blanks before a number", L"x|File||Everyone|" + std::wstring(100000, L' ') + L"7|8", 0, 1},
        {"100,000 record separators", std::wstring(100000, L'*'), ERROR_INVALID_PARAMETER, 0},
        {"100,000 field separators", std::wstring(100000, L'|'), 0, 1},
        {"100,000 records", manyRecords, 0, 100000},
        {"100,000 records, the last one short", manyRecords + L"x|File||Everyone|1", ERROR_INVALID_PARAMETER, 100000},
    };
    RecordingLogger logger;
    for (const auto& c : cases) {
        datamodel::Result library = ParseWithLibrary(c.text, logger);
        EXPECT_EQ(library.status, c.status) << c.name;
        EXPECT_EQ(library.items.size(), c.items) << c.name;
        EXPECT_TRUE(library == datamodel::Read(c.text)) << c.name << ": " << Describe(library);
    }
}

// Whatever costing writes, the install action reads back as it was: texts of any
// characters but the two separators and NUL, and every 32-bit number.
TEST(CustomActionDataRoundTrip, RandomRowsReadBackUnchanged)
{
    const unsigned seed = datamodel::FromEnvironment(L"QX_FUZZ_SEED", 20240607);
    std::mt19937 random(seed);
    auto below = [&random](unsigned bound) { return std::uniform_int_distribution<unsigned>(0, bound - 1)(random); };
    auto text = [&below](bool tableWord) {
        static const wchar_t* const words[] = {L"File",         L"file",     L"CREATEFOLDER",
                                               L"CreateFolder", L"Registry", L"rEgIsTrY"};
        if (tableWord && below(4) != 0) {
            return std::wstring(words[below(6)]);
        }
        std::wstring value;
        for (unsigned n = below(below(10) == 0 ? 300 : 30); n > 0; --n) {
            wchar_t c;
            do {
                c = static_cast<wchar_t>(below(4) == 0 ? 1 + below(0xFFFF) : 0x20 + below(0x5F));
            } while (c == L'*' || c == L'|');
            value += c;
        }
        return value;
    };

    struct Row {
        std::wstring object, table, domain, user;
        DWORD permission, flags;
    };
    _stringx<> written;
    RecordingLogger logger;
    for (int round = 0; round < 2000; ++round) {
        written.clear();
        std::vector<Row> rows(1 + below(12));
        for (Row& row : rows) {
            row = {text(false),
                   text(true),
                   text(false),
                   text(false),
                   static_cast<DWORD>(random()),
                   static_cast<DWORD>(random())};
            AddItemToCustomActionData(written, row.object.c_str(), row.table.c_str(), row.domain.c_str(),
                                      row.user.c_str(), row.permission, row.flags);
        }
        std::vector<PermissionsItem> items;
        ASSERT_EQ(ParseCustomActionData(written, items, logger), 0u)
            << "round " << round << ": '" << datamodel::Escaped(written.str()) << "'";
        ASSERT_EQ(items.size(), rows.size()) << "round " << round;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            const PermissionsItem& item = items[i];
            LockObjectKind kind = datamodel::Kind(row.table);
            EXPECT_EQ(item.m_strObjectName.str(), row.object) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_kind, kind) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_objectType, datamodel::Type(kind)) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_strDomain.str(), row.domain) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_strUser.str(), row.user) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_dwPermission, row.permission) << "round " << round << " row " << i;
            EXPECT_EQ(item.m_dwFlags, row.flags) << "round " << round << " row " << i;
        }
        EXPECT_TRUE(logger.lines.empty());
    }
}
