#include "support/paths.h"

void AppendPathPart(_stringx<>& path, const _stringx<>& part, wchar_t separator)
{
    if (part.empty()) {
        return;
    }
    if (path.empty()) {
        path = part;
        return;
    }
    bool pathEnds = path[path.length() - 1] == separator;
    bool partStarts = part[0] == separator;
    if (pathEnds && partStarts) {
        path.append(part.c_str() + 1, part.length() - 1);
    } else if (!pathEnds && !partStarts) {
        path.append(1, separator);
        path.append(part);
    } else {
        path.append(part);
    }
}

_stringx<> CombinePath(const _stringx<>& first, const _stringx<>& second)
{
    _stringx<> combined(first);
    AppendPathPart(combined, second, L'\\');
    return combined;
}

_stringx<> GetPathRoot(const _stringx<>& path, bool trailingBackslash)
{
    _stringx<> root;
    std::size_t length = path.length();
    if (length >= 3 && path[0] == L'\\' && path[1] == L'\\') {
        // \\server\share: up to the backslash that follows the share name.
        std::size_t afterServer = path.find(L'\\', 2);
        std::size_t afterShare = afterServer == _stringx<>::npos ? _stringx<>::npos : path.find(L'\\', afterServer + 1);
        root = afterShare == _stringx<>::npos ? path : path.substr(0, afterShare);
    } else if (length >= 2 && path[1] == L':') {
        root = path.substr(0, 2);
    }
    if (trailingBackslash) {
        qx::add_backslash(root);
    }
    return root;
}

namespace qx {

void add_backslash(_stringx<>& path)
{
    if (path.empty() || path[path.length() - 1] != L'\\') {
        path.push_back(L'\\');
    }
}

} // namespace qx
