#include "HelperRound.h"

#include <accctrl.h>

#include <cstdio>

#include "RpcService.h"
#include "helper64/CreateBitUtilsHelper.h"
#include "helper64/ExtractHelper.h"
#include "support/com_apartment.h"
#include "support/com_ptr.h"
#include "support/unique_any.h"

namespace qxbench {

namespace {

const wchar_t kKey[] = L"Software\\QXLockBenchHelper";

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

class PrintedLog : public qx::log_sink {
public:
    void Log(const _stringx<>& message) override { std::printf("  helper round: %ls\n", message.c_str()); }
};

} // namespace

HelperRound MeasureHelperRound(HMODULE module)
{
    HelperRound round;
    static const bool rpcRuns = qxtest::StartRpcService();
    qx::com_apartment apartment;
    qx::unique_hkey key;
    if (!rpcRuns || FAILED(apartment.result()) ||
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
            ERROR_SUCCESS) {
        std::printf("  helper round: no RPC service, apartment or key\n");
        return round;
    }
    PrintedLog log;
    double at = Now();
    const _stringx<> path = ExtractHelperExecutable(log, module);
    round.extract = Now() - at;
    if (path.empty()) {
        return round;
    }
    ULONG result = ERROR_INVALID_DATA;
    {
        qx::com_ptr<IQXBEWUtils> helper;
        at = Now();
        HRESULT hr = CreateBitUtilsHelper(log, path, helper.put());
        round.start = Now() - at;
        if (SUCCEEDED(hr)) {
            _stringx<> name = FormatText(L"MACHINE\\%s", kKey);
            _stringx<> user(L"Users");
            at = Now();
            hr = helper->SetObjectPermissions(name.bstr(), nullptr, user.bstr(), SE_REGISTRY_KEY, KEY_READ, 0x08,
                                              &result);
            round.item = Now() - at;
        }
        at = Now();
        helper.reset(); // the helper ends before the proxy is gone
        round.release = Now() - at;
    }
    at = Now();
    RemoveHelperExecutable(path);
    round.remove = Now() - at;
    round.ok = result == ERROR_SUCCESS && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    key.reset();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    return round;
}

} // namespace qxbench
