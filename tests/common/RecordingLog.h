// A log sink that keeps every line, for tests of the layers below the actions.
#pragma once

#include <string>
#include <vector>

#include "support/error.h"
#include "support/log_sink.h"

namespace qxtest {

class RecordingLog : public qx::log_sink {
public:
    void Log(const _stringx<>& message) override { lines.push_back(message.str()); }

    std::vector<std::wstring> lines;
};

// Runs an operation of the layers below the actions: 0, or the code of the error it
// threw, with the error's line logged as the catching frame would log it.
template <class Operation> DWORD CodeOf(qx::log_sink& log, Operation operation)
{
    try {
        operation();
        return ERROR_SUCCESS;
    } catch (const qx::error& failure) {
        if (!failure.message().empty()) {
            log.Log(failure.message());
        }
        return failure.code();
    }
}

} // namespace qxtest
