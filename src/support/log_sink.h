// Where the layers below the custom actions send their messages: the installation
// log in the actions, nowhere in the helper program, a list in tests.
#pragma once

#include "support/stringx.h"

namespace qx {

class log_sink {
public:
    log_sink() = default;
    log_sink(const log_sink&) = delete;
    log_sink& operator=(const log_sink&) = delete;
    virtual ~log_sink() = default;

    // One message; a sink that cannot take it drops it.
    virtual void Log(const _stringx<>& message) = 0;
};

} // namespace qx
