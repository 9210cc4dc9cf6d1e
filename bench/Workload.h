// One size of one package kind: its package, costed session, texts and objects,
// and what the benchmark times on them.
#pragma once

#include <windows.h>
#include <msi.h>

#include <memory>
#include <string>
#include <vector>

#include "ActionSplit.h"
#include "Floors.h"
#include "PackageBuilder.h"
#include "msi/MsiHandle.h"

namespace qxbench {

using Action = UINT(WINAPI*)(MSIHANDLE);

// Milliseconds from a steady clock.
double Now();

// Who runs: the library's exported action, or one of the two floors.
enum class Runner { Library, RowFloor, Floor };

// Counts the installation's info lines, so that library and floors can be checked
// to write as many.
int WINAPI CountLogLine(LPVOID, UINT type, LPCWSTR);

class Workload {
public:
    Workload(int rows, int rowsPerObject, Action costAction, Action installAction);
    Workload(const Workload&) = delete;
    Workload& operator=(const Workload&) = delete;
    ~Workload();

    int Rows() const { return m_rows; }
    int RowsPerObject() const { return m_rowsPerObject; }
    int Objects() const { return m_objects; }
    bool Failed() const { return m_failed; }

    // The package, the costed session, the text that costing writes (library and
    // floors must write the same, with as many log lines; the floors are checked
    // only with checkCostFloors) and the objects it names, whose security the
    // install action then writes once before the timed rounds write it again.
    bool Prepare(bool checkCostFloors);

    double Cost(Runner runner);
    double Install(Runner runner);
    double Parse();
    // The cost action's capture for rollback alone: the access list of every
    // object the text names, which the timed rounds find in place.
    double Capture();
    ActionSplit SplitCost();
    ActionSplit SplitInstall();
    CallCosts MeasureCalls();

private:
    bool Fail(const char* what, DWORD code);
    void Check(DWORD result);

    int m_rows;
    int m_rowsPerObject;
    int m_objects = 0;
    Action m_costAction;
    Action m_installAction;
    std::wstring m_folder, m_root, m_parent;
    std::unique_ptr<qxtest::Package> m_package;
    qx::unique_msihandle m_session;
    std::wstring m_text;
    std::vector<FloorItem> m_items;
    bool m_failed = false;
};

} // namespace qxbench
