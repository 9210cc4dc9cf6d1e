#include "RpcService.h"

#include "support/unique_any.h"

namespace qxtest {

namespace {

using unique_service = qx::unique_any<SC_HANDLE, &::CloseServiceHandle>;

} // namespace

bool StartRpcService(DWORD timeoutMs)
{
    unique_service manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service service(::OpenServiceW(manager.get(), L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    for (ULONGLONG deadline = ::GetTickCount64() + timeoutMs; service && ::GetTickCount64() < deadline; ::Sleep(100)) {
        if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING) {
            return true;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            ::StartServiceW(service.get(), 0, nullptr);
        }
    }
    return false;
}

} // namespace qxtest
