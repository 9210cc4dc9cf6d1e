// Both exported actions called a thousand times over items of every route: kernel
// handles, installer handles and private bytes must come out where they went in.
#include "InstallerFixture.h"
#include "ScratchFolder.h"
#include "SecurityTestSupport.h"

#include <psapi.h>

using namespace qxtest;

namespace {

constexpr int kCalls = 1000;
// Private bytes are counted in pages, and the heaps grow in blocks of them: allow
// 64 KB in all, which a leak of 64 bytes a call (one SID, one small string) exceeds.
constexpr SIZE_T kPrivateBytesSlack = 64 * 1024;

// Open kernel handles of this process. Wine answers GetProcessHandleCount with 0,
// so there every handle value is asked for its flags instead.
DWORD KernelHandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) {
        return count;
    }
    count = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

// The commit charge of this process: PrivateUsage on Windows; Wine leaves that 0
// and reports the private resident memory as PagefileUsage.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

TEST_F(InstallerTest, ThousandCallsOfEachActionLeaveNothingBehind)
{
    {
        // The measures see what they are meant to see.
        DWORD handles = KernelHandleCount();
        HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ASSERT_EQ(KernelHandleCount(), handles + 1);
        ::CloseHandle(event);
        ASSERT_EQ(KernelHandleCount(), handles);
        ASSERT_GT(PrivateBytes(), 0u);
    }

    PackageBuilder builder;
    builder.Property(L"QXAccount", L"Users")
        .Component(L"Comp32", 0)
        .Component(L"Unfeatured", 0, nullptr)
        .File(L"App", L"MainComponent", L"APP~1.EXE|Application.exe")
        .File(L"Lib", L"Comp32", L"lib.dll")
        .File(L"Spare", L"Unfeatured", L"spare.dll")
        .Rows(L"CreateFolder", {{L"INSTALLDIR", L"MainComponent"}})
        .Registry(L"Key", 2, L"Software\\[QXAccount]", L"MainComponent")
        .Rows(L"QXLockPermissions", {{L"App", L"File", nullptr, L"Everyone", 0x1F01FF, 0},
                                     {L"Lib", L"File", L"BUILTIN", L"[QXAccount]", 0x120089, 1},
                                     {L"Spare", L"File", nullptr, L"Everyone", 1, 0},
                                     {L"INSTALLDIR", L"CreateFolder", nullptr, L"S-1-5-32-545", 0x120089, 2},
                                     {L"Key", L"Registry", nullptr, L"Administrators", 0x20019, 0}});
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));

    TestKey key(L"Leak");
    const ScratchFolder scratch;
    const std::wstring file = scratch.path + L"Leak.txt", missing = scratch.path + L"Missing.txt";
    qx::unique_file(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::wstring data = key.Name() + L"|Registry||Everyone|131097|8*" + key.Name() +
                              L"|Registry||SYSTEM|131097|8*" + file + L"|File||s-1-5-32-545|1179785|9*" + missing +
                              L"|File||Users|1179785|4*" + file + L"|File|QX|nobody-qx|1|4*" + key.Name() +
                              L"|Registry||Everyone|131097|22";
    ASSERT_EQ(SetProperty(L"CustomActionData", data), 0u);

    auto callBoth = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ASSERT_EQ(RunExport("QXLockPermissionsCostAction"), 0u) << "call " << i;
            ASSERT_EQ(RunExport("QXLockPermissionsInstallAction"), 0u) << "call " << i;
            m_log.Clear(); // the capture's own lines would grow the heap
        }
    };
    // First calls fill caches that stay: the installer's string table, COM's apartment
    // bookkeeping, the heaps' free lists.
    ASSERT_NO_FATAL_FAILURE(callBoth(50));
    ASSERT_FALSE(::GetProperty(Session(), L"QXLockPermissionsInstall").empty());
    const DWORD handlesBefore = KernelHandleCount();
    const SIZE_T privateBefore = PrivateBytes();

    ASSERT_NO_FATAL_FAILURE(callBoth(kCalls));

    EXPECT_EQ(KernelHandleCount(), handlesBefore);
    const SIZE_T privateAfter = PrivateBytes();
    EXPECT_LE(privateAfter, privateBefore + kPrivateBytesSlack)
        << "private bytes grew from " << privateBefore << " to " << privateAfter;
    // The fixture's tear-down checks that no installer handle is left open.
}

} // namespace
