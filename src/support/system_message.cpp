#include "support/system_message.h"

#include "support/unique_any.h"

namespace qx {

_stringx<> system_message(DWORD code)
{
    unique_local<wchar_t> text;
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                         nullptr, code, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    if (length == 0 || !text.get()) {
        return _stringx<>();
    }
    return _stringx<>(text.get(), length);
}

} // namespace qx
