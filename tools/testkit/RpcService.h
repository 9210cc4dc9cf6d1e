// The RPC service holds COM's running object table, and a process whose first use
// of the table fails never reaches the table afterwards: programs that bind to the
// helper start the service, and wait for it, first.
#pragma once

#include <windows.h>

namespace qxtest {

// True once the service runs. In a new Wine prefix the system starts its own
// services first, holding the service database (each start of ours then fails
// after 3 s) for up to about a minute. On Windows it returns at once: the service
// always runs there.
bool StartRpcService(DWORD timeoutMs = 90000);

} // namespace qxtest
