#include "helper64/CoCreate.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "support/com_ptr.h"
#include "support/unique_any.h"
#include "support/variant.h"

namespace {

constexpr HRESULT kCannotStart = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); // 0x80070002
constexpr DWORD kIdleWaitMs = 20000;
constexpr size_t kCommandLineChars = 1024;

// The braced, upper-case text of a GUID, as a BSTR.
void GuidText(REFGUID guid, qx::unique_bstr& holder)
{
    wchar_t text[64] = {};
    ::StringFromGUID2(guid, text, 64);
    for (wchar_t* c = text; *c; ++c) {
        *c = static_cast<wchar_t>(std::towupper(*c));
    }
    holder.reset(qx::bstr_copy(text));
}

} // namespace

HRESULT CoCreateFromExecutable(const wchar_t* path, REFCLSID clsid, REFIID iid, void** out, qx::unique_handle* process,
                               const qx::bind_polling& polling)
{
    if (!out || !process) {
        return E_POINTER;
    }
    *out = nullptr;
    process->reset();

    GUID instance = {};
    HRESULT hr = ::CoCreateGuid(&instance);
    if (FAILED(hr)) {
        return hr;
    }
    qx::unique_bstr instanceText;
    GuidText(instance, instanceText);
    qx::unique_bstr clsidText;
    GuidText(clsid, clsidText);

    // Without a program there is nothing to start; an empty application name
    // would also let the system pick a program out of the arguments.
    if (!path || !*path) {
        return kCannotStart;
    }
    wchar_t commandLine[kCommandLineChars] = {};
    if (_snwprintf_s(commandLine, kCommandLineChars, _TRUNCATE, L"%ls %ls:%ls", path, clsidText.get(),
                     instanceText.get()) < 0) {
        // A cut-off line would lose the GUID that the program registers under.
        return kCannotStart;
    }

    // The application name is given explicitly: the command line carries the path
    // unquoted, and with blanks in it the system would otherwise try the pieces
    // before each blank as programs of their own ("C:\a b\x.exe" runs "C:\a.exe").
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return kCannotStart;
    }
    qx::unique_handle program(started.hProcess);
    qx::unique_handle(started.hThread).reset(); // of no use: closed at once
    // The outcome does not matter: binding below retries anyway.
    ::WaitForInputIdle(program.get(), kIdleWaitMs);

    hr = E_FAIL;
    qx::com_ptr<IUnknown> object;
    for (unsigned attempt = 0; attempt < polling.attempts; ++attempt) {
        qx::com_ptr<IMoniker> moniker;
        qx::com_ptr<IRunningObjectTable> table;
        hr = ::CreateItemMoniker(L"!", instanceText.get(), moniker.put());
        if (SUCCEEDED(hr)) {
            hr = ::GetRunningObjectTable(0, table.put());
        }
        if (SUCCEEDED(hr)) {
            hr = table->GetObject(moniker.get(), object.put());
        }
        if (SUCCEEDED(hr)) {
            hr = object->QueryInterface(iid, out);
            break;
        }
        ::Sleep(polling.delayMs);
    }
    if (FAILED(hr)) {
        // A program that never registered (or whose object is of no use) must not
        // stay behind, holding its file.
        EndStartedProgram(program, polling.endWaitMs);
        return hr;
    }
    *process = std::move(program);
    return hr;
}

void EndStartedProgram(qx::unique_handle& process, DWORD waitMs) noexcept
{
    if (process && ::WaitForSingleObject(process.get(), waitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), ERROR_TIMEOUT);
        ::WaitForSingleObject(process.get(), waitMs);
    }
    process.reset();
}
