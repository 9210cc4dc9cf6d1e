#include "RpcService.h"

#include <rpc.h>

#include "support/unique_any.h"

namespace qxtest {

namespace {

using unique_service = qx::unique_any<SC_HANDLE, &::CloseServiceHandle>;

bool UnderWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Under Wine the table is the service's endpoint ncalrpc:irot, which it may open a
// moment after it reports running; a process that calls before then is lost. The
// question asks rpcrt4 only, so asking it touches nothing of COM's.
bool TableListens()
{
    RPC_WSTR text = nullptr;
    RPC_BINDING_HANDLE binding = nullptr;
    wchar_t protocol[] = L"ncalrpc", endpoint[] = L"irot";
    RPC_STATUS status = ::RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protocol), nullptr,
                                                   reinterpret_cast<RPC_WSTR>(endpoint), nullptr, &text);
    if (status == RPC_S_OK) {
        status = ::RpcBindingFromStringBindingW(text, &binding);
        ::RpcStringFreeW(&text);
    }
    if (status == RPC_S_OK) {
        status = ::RpcMgmtIsServerListening(binding);
        ::RpcBindingFree(&binding);
    }
    return status == RPC_S_OK;
}

} // namespace

bool StartRpcService(DWORD timeoutMs)
{
    if (!UnderWine()) {
        return true; // Windows runs the service from its start
    }
    unique_service manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service service(::OpenServiceW(manager.get(), L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    for (ULONGLONG deadline = ::GetTickCount64() + timeoutMs; service && ::GetTickCount64() < deadline; ::Sleep(100)) {
        if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING &&
            TableListens()) {
            return true;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            ::StartServiceW(service.get(), 0, nullptr);
        }
    }
    return false;
}

} // namespace qxtest
