// A log sink that keeps every line, for tests of the layers below the actions.
#pragma once

#include <string>
#include <vector>

#include "support/log_sink.h"

namespace qxtest {

class RecordingLog : public qx::log_sink {
public:
    void Log(const _stringx<>& message) override { lines.push_back(message.str()); }

    std::vector<std::wstring> lines;
};

} // namespace qxtest
