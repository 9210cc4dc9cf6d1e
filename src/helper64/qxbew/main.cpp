// QXBEW.exe: the 64-bit helper process. Started by the 32-bit library with
// "<path> {CLSID}:{GUID}", it registers its dispatch object in the running object
// table under the item moniker "!" + GUID and serves it until the client lets go.
// Exit codes: 0 served; 1 bad command line; 2 no COM; 3 no registration of its
// own; 4 no advapi32; 5 no memory; 6 its callers could not be restricted.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "helper64/QXBEWUtils.h"
#include "helper64/qxbew/CallerSecurity.h"
#include "helper64/qxbew/CommandLine.h"
#include "helper64/qxbew/HelperObject.h"
#include "support/com_apartment.h"
#include "support/com_ptr.h"

namespace {

// The helper must never linger: a client binds within about 50 seconds of the start
// or not at all, and a whole installation's call is far shorter than the cap.
constexpr ULONGLONG kUnclaimedLimitMs = 60 * 1000;
constexpr ULONGLONG kLifetimeLimitMs = 5 * 60 * 1000;
constexpr UINT kCheckIntervalMs = 1000;

int Serve(const HelperArguments& arguments)
{
    qx::com_apartment apartment;
    if (FAILED(apartment.result())) {
        return 2;
    }
    // It runs as LocalSystem: no one else may reach its object.
    if (FAILED(RestrictCallers())) {
        return 6;
    }
    qx::com_ptr<CHelperObject> object(new (std::nothrow) CHelperObject());
    if (!object) {
        return 5;
    }
    qx::com_ptr<IMoniker> moniker;
    qx::com_ptr<IRunningObjectTable> table;
    DWORD cookie = 0;
    // Flags 0: a weak registration, which does not keep the object alive and lets the
    // connection callbacks report the client's release.
    if (FAILED(::CreateItemMoniker(L"!", arguments.instanceText.c_str(), moniker.put())) ||
        FAILED(::GetRunningObjectTable(0, table.put()))) {
        return 3;
    }
    // Any answer but S_OK (MK_S_MONIKERALREADYREGISTERED) means that someone else
    // holds the name the client binds to: the client would reach them, not us.
    const HRESULT registered = table->Register(0, static_cast<IDispatch*>(object.get()), moniker.get(), &cookie);
    if (registered != S_OK) {
        if (SUCCEEDED(registered)) {
            table->Revoke(cookie);
        }
        return 3;
    }
    object->MarkRegistered();

    const ULONGLONG started = ::GetTickCount64();
    UINT_PTR timer = ::SetTimer(nullptr, 0, kCheckIntervalMs, nullptr);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) {
            ULONGLONG elapsed = ::GetTickCount64() - started;
            if (elapsed >= kLifetimeLimitMs || (!object->ClientConnected() && elapsed >= kUnclaimedLimitMs)) {
                break;
            }
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::KillTimer(nullptr, timer);
    table->Revoke(cookie);
    // Cuts off a client that still holds a proxy when a limit ended the loop.
    ::CoDisconnectObject(static_cast<IDispatch*>(object.get()), 0);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    // The secure object base resolves its entry points from an advapi32 that is
    // already loaded, as it is in the library's process; nothing here imports it.
    if (!::LoadLibraryW(L"advapi32.dll")) {
        return 4;
    }
    HelperArguments arguments;
    if (!ParseHelperCommandLine(::GetCommandLineW(), arguments) || !::IsEqualCLSID(arguments.clsid, CLSID_QXBEWUtils)) {
        return 1;
    }
    return Serve(arguments);
}
