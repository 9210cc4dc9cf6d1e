#include <gtest/gtest.h>

#include "apply/ApplyRules.h"
#include "apply/ApplyTestSupport.h"

using applytest::MakeItem;

TEST(ApplyRules, HelperTakesRegistryItemsWithAnyBitOfTheMask)
{
    const struct {
        LockObjectKind kind;
        DWORD flags;
        bool helper;
    } rows[] = {
        {LockObjectKind::Registry, 0x16, true},  {LockObjectKind::Registry, 0x17, true},
        {LockObjectKind::Registry, 0x0A, true},  {LockObjectKind::Registry, 0x04, true},
        {LockObjectKind::Registry, 0x10, true},  {LockObjectKind::Registry, 0x08, false},
        {LockObjectKind::Registry, 0x09, false}, {LockObjectKind::Registry, 0x00, false},
        {LockObjectKind::File, 0x16, false},     {LockObjectKind::CreateFolder, 0x16, false},
        {LockObjectKind::Unknown, 0x16, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(AppliesThroughHelper(MakeItem(L"MACHINE\\x", row.kind, L"", L"Users", 1, row.flags)), row.helper)
            << "kind " << int(row.kind) << ", flags " << row.flags;
    }
}

TEST(ApplyRules, RedirectionOffFor64BitComponentsAndTheSystemDirectory)
{
    const wchar_t* system = L"C:\\Windows\\System32";
    const struct {
        const wchar_t* name;
        LockObjectKind kind;
        DWORD flags;
        const wchar_t* systemDirectory;
        bool off;
    } rows[] = {
        {L"C:\\Program Files\\App\\a.dll", LockObjectKind::File, 0x08, system, true},
        {L"C:\\Program Files\\App\\", LockObjectKind::CreateFolder, 0x09, system, true},
        {L"C:\\Program Files (x86)\\App\\a.dll", LockObjectKind::File, 0x16, system, false},
        {L"c:\\windows\\system32\\drivers\\a.sys", LockObjectKind::File, 0x16, system, true},
        {L"C:\\WINDOWS\\SYSTEM32\\App\\", LockObjectKind::CreateFolder, 0x16, system, true},
        {L"D:\\C:\\Windows\\System32\\a.dll", LockObjectKind::File, 0x16, system, false},
        {L"D:\\Data\\a.txt", LockObjectKind::File, 0x16, L"", true},
        {L"MACHINE\\SOFTWARE\\App", LockObjectKind::Registry, 0x08, system, false},
        {L"C:\\Windows\\System32\\a.dll", LockObjectKind::Unknown, 0x08, system, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(AppliesWithoutRedirection(MakeItem(row.name, row.kind, L"", L"Users", 1, row.flags),
                                            row.systemDirectory),
                  row.off)
            << _stringx<>(row.name).narrow();
    }
}
