// What the helper tests share: a recording logger, the helper's path, process and
// temporary-folder inspection, and COM for the test thread.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "entry/SecureObject.h"

// A secure object that keeps every log line.
class RecordingLogger : public CQXSecureObject {
public:
    void Log(const _stringx<>& message) override { lines.push_back(message.str()); }
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override
    {
        *helper = nullptr;
        return E_NOTIMPL;
    }
    std::vector<std::wstring> lines;
};

namespace helper_test {

// The folder of the test program, with a trailing backslash; QXBEW.exe is built there.
std::wstring ProgramFolder();
std::wstring HelperPath();
std::wstring TempFolder();
std::wstring NewGuidText(); // braced

// Ids of the running processes whose executable file has this name.
std::vector<DWORD> ProcessesNamed(const std::wstring& exeName);
// Waits until no process of that name runs; false if one still does after timeoutMs.
bool WaitUntilNoProcess(const std::wstring& exeName, DWORD timeoutMs);
// Display names of the item monikers "!{GUID}" registered in the running object table.
std::set<std::wstring> RegisteredHelperMonikers();

std::set<std::wstring> FolderEntries(const std::wstring& folder);
std::vector<char> ReadFileBytes(const std::wstring& path);
// Deletes a folder with the files directly in it; true when it is gone.
bool RemoveFolder(const std::wstring& folder);

} // namespace helper_test

// COM for the test thread, and the check that every test leaves no helper running.
class HelperProcessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    HRESULT m_com = E_FAIL;
};
