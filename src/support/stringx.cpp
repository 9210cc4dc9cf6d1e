#include "support/stringx.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <stdexcept>
#include <utility>

namespace qx {

bool char_traitsi::eq(wchar_t a, wchar_t b) noexcept
{
    return std::towlower(a) == std::towlower(b);
}

bool char_traitsi::lt(wchar_t a, wchar_t b) noexcept
{
    return std::towlower(a) < std::towlower(b);
}

int char_traitsi::compare(const wchar_t* a, const wchar_t* b, std::size_t count) noexcept
{
    return count == 0 ? 0 : _wcsnicmp(a, b, count);
}

const wchar_t* char_traitsi::find(const wchar_t* s, std::size_t count, wchar_t c) noexcept
{
    // The sought character is lowered once, not once per character searched.
    const wint_t lowered = std::towlower(c);
    for (std::size_t i = 0; i < count; ++i) {
        if (std::towlower(s[i]) == lowered) {
            return s + i;
        }
    }
    return nullptr;
}

} // namespace qx

last_error_preserver::last_error_preserver() noexcept : m_dwLastError(::GetLastError()) { }

last_error_preserver::last_error_preserver(const last_error_preserver&) noexcept : m_dwLastError(::GetLastError()) { }

void last_error_preserver::save_last_error() noexcept
{
    m_dwLastError = ::GetLastError();
}

void last_error_preserver::restore_last_error() const noexcept
{
    ::SetLastError(m_dwLastError);
}

template <class Traits> _stringx<Traits>::_stringx() noexcept
{
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(const wchar_t* text, size_type length)
{
    construct(text, length);
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(const wchar_t* text)
{
    construct(text, text ? std::wcslen(text) : 0);
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(const std::wstring& text)
{
    construct(text.data(), text.size());
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(const _stringx& other) : last_error_preserver()
{
    construct(other.c_str(), other.m_size);
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(_stringx&& other) noexcept : last_error_preserver()
{
    swap(other);
    restore_last_error();
}

template <class Traits> _stringx<Traits>::_stringx(const char* text, unsigned int codePage)
{
    assign_narrow(text, codePage);
    restore_last_error();
}

template <class Traits> _stringx<Traits>::~_stringx()
{
    save_last_error();
    release_storage();
    if (m_mirror) {
        ::SysFreeString(m_mirror);
    }
    restore_last_error();
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator=(const _stringx& other)
{
    if (this != &other) {
        assign(other.c_str(), other.m_size);
    }
    return *this;
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator=(_stringx&& other) noexcept
{
    if (this != &other) {
        swap(other);
    }
    return *this;
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator=(const wchar_t* text)
{
    return assign(text, text ? std::wcslen(text) : 0);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::assign(const wchar_t* text, size_type length)
{
    if (length > m_capacity) {
        // A text longer than our capacity cannot lie in our own storage, which may go.
        size_type capacity = grown_capacity(length);
        wchar_t* block = allocate(capacity);
        Traits::copy(block, text, length);
        release_storage();
        m_storage.heap = block;
        m_capacity = capacity;
        set_size(length);
        return *this;
    }
    Traits::move(data(), text, length);
    set_size(length);
    return *this;
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::assign_narrow(const char* text, unsigned int codePage)
{
    if (!text) {
        return assign(L"", 0);
    }
    int needed = ::MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (needed <= 0) {
        return *this;
    }
    _stringx converted;
    converted.resize(static_cast<size_type>(needed));
    int written = ::MultiByteToWideChar(codePage, 0, text, -1, converted.data(), needed);
    if (written > 0) {
        assign(converted.c_str(), static_cast<size_type>(written) - 1); // without the terminator
    }
    return *this;
}

template <class Traits> void _stringx<Traits>::swap(_stringx& other) noexcept
{
    swap_text(other);
    std::swap(m_mirror, other.m_mirror);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::append(const wchar_t* text, size_type length)
{
    if (length == 0) {
        return *this;
    }
    size_type size = m_size;
    if (length > max_size() - size) {
        throw std::length_error("string too long");
    }
    if (size + length > m_capacity) {
        // The source may live in our own storage, which growing frees.
        _stringx copy(text, length);
        grow(size + length);
        Traits::copy(data() + size, copy.c_str(), length);
    } else {
        Traits::move(data() + size, text, length);
    }
    set_size(size + length);
    return *this;
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::append(const _stringx& other)
{
    return append(other.c_str(), other.m_size);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::append(size_type count, wchar_t c)
{
    if (count > max_size() - m_size) {
        throw std::length_error("string too long");
    }
    size_type size = m_size;
    if (size + count > m_capacity) {
        grow(size + count);
    }
    Traits::assign(data() + size, count, c);
    set_size(size + count);
    return *this;
}

template <class Traits> void _stringx<Traits>::push_back(wchar_t c)
{
    append(1, c);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator+=(const _stringx& other)
{
    return append(other);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator+=(const wchar_t* text)
{
    return append(text, std::wcslen(text));
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::operator+=(wchar_t c)
{
    return append(1, c);
}

template <class Traits> _stringx<Traits>& _stringx<Traits>::erase(size_type position, size_type count)
{
    if (position > m_size) {
        throw std::out_of_range("invalid string position");
    }
    if (m_mirror) {
        ::SysFreeString(m_mirror);
        m_mirror = nullptr;
    }
    if (count > m_size - position) {
        count = m_size - position;
    }
    Traits::move(data() + position, data() + position + count, m_size - position - count);
    set_size(m_size - count);
    return *this;
}

template <class Traits> void _stringx<Traits>::resize(size_type size, wchar_t fill)
{
    if (size > m_size) {
        append(size - m_size, fill);
    } else {
        set_size(size);
    }
}

template <class Traits> void _stringx<Traits>::clear() noexcept
{
    set_size(0);
}

template <class Traits>
typename _stringx<Traits>::size_type _stringx<Traits>::find(wchar_t c, size_type position) const noexcept
{
    if (position >= m_size) {
        return npos;
    }
    const wchar_t* hit = Traits::find(c_str() + position, m_size - position, c);
    return hit ? static_cast<size_type>(hit - c_str()) : npos;
}

template <class Traits>
typename _stringx<Traits>::size_type _stringx<Traits>::find(const wchar_t* text, size_type position,
                                                            size_type length) const noexcept
{
    if (position > m_size || length > m_size - position) {
        return npos;
    }
    if (length == 0) {
        return position;
    }
    // Candidates are the places of the first character; only there is the whole
    // text compared. A range comparison costs many times a character's (a call
    // into the C library's locale-aware compare), and the data reader searches
    // every character of its text this way.
    const wchar_t* const begin = c_str();
    const wchar_t* const last = begin + (m_size - length);
    for (const wchar_t* at = begin + position; at <= last; ++at) {
        at = Traits::find(at, static_cast<size_type>(last - at) + 1, text[0]);
        if (!at) {
            break;
        }
        if (Traits::compare(at, text, length) == 0) {
            return static_cast<size_type>(at - begin);
        }
    }
    return npos;
}

template <class Traits>
typename _stringx<Traits>::size_type _stringx<Traits>::find(const wchar_t* text, size_type position) const noexcept
{
    return find(text, position, std::wcslen(text));
}

template <class Traits>
typename _stringx<Traits>::size_type _stringx<Traits>::find(const _stringx& text, size_type position) const noexcept
{
    return find(text.c_str(), position, text.m_size);
}

template <class Traits>
typename _stringx<Traits>::size_type _stringx<Traits>::rfind(wchar_t c, size_type position) const noexcept
{
    if (m_size == 0) {
        return npos;
    }
    size_type i = position < m_size ? position : m_size - 1;
    for (;; --i) {
        if (Traits::eq(c_str()[i], c)) {
            return i;
        }
        if (i == 0) {
            return npos;
        }
    }
}

template <class Traits> _stringx<Traits> _stringx<Traits>::substr(size_type position, size_type count) const
{
    if (position > m_size) {
        throw std::out_of_range("invalid string position");
    }
    return _stringx(c_str() + position, count < m_size - position ? count : m_size - position);
}

template <class Traits> bool _stringx<Traits>::equals(const wchar_t* text, size_type length) const noexcept
{
    return length == m_size && Traits::compare(c_str(), text, length) == 0;
}

template <class Traits> bool _stringx<Traits>::equals(const wchar_t* text) const noexcept
{
    return equals(text, std::wcslen(text));
}

template <class Traits> wchar_t* _stringx<Traits>::bstr()
{
    return sync_mirror();
}

template <class Traits> void _stringx<Traits>::construct(const wchar_t* text, size_type length)
{
    if (length > max_size()) {
        throw std::length_error("string too long");
    }
    if (length > inline_capacity) {
        size_type capacity = (length | inline_capacity) > 10 ? (length | inline_capacity) : 10;
        m_storage.heap = allocate(capacity);
        m_capacity = capacity;
    }
    Traits::copy(data(), text, length);
    set_size(length);
}

template <class Traits> wchar_t* _stringx<Traits>::allocate(size_type capacity)
{
    if (capacity + 1 > 0x7FFFFFFF) {
        throw std::bad_alloc();
    }
    BSTR block = ::SysAllocStringLen(nullptr, static_cast<UINT>(capacity + 1));
    if (!block) {
        throw std::bad_alloc();
    }
    return block;
}

template <class Traits> void _stringx<Traits>::release_storage() noexcept
{
    if (!is_inline()) {
        ::SysFreeString(m_storage.heap);
        m_capacity = inline_capacity;
    }
}

// The capacity for a size above the current one: at least half as much again.
template <class Traits> typename _stringx<Traits>::size_type _stringx<Traits>::grown_capacity(size_type needed) const
{
    if (needed > max_size()) {
        throw std::length_error("string too long");
    }
    size_type rounded = needed | inline_capacity;
    if (rounded >= max_size() + 1 || m_capacity > max_size() - m_capacity / 2) {
        return max_size();
    }
    size_type geometric = m_capacity + m_capacity / 2;
    return rounded > geometric ? rounded : geometric;
}

template <class Traits> void _stringx<Traits>::grow(size_type needed)
{
    size_type capacity = grown_capacity(needed);
    wchar_t* block = allocate(capacity);
    Traits::copy(block, c_str(), m_size + 1);
    release_storage();
    m_storage.heap = block;
    m_capacity = capacity;
}

template <class Traits> void _stringx<Traits>::set_size(size_type size) noexcept
{
    m_size = size;
    data()[size] = L'\0';
}

// Exchanges text and storage only; the mirror stays with its object.
template <class Traits> void _stringx<Traits>::swap_text(_stringx& other) noexcept
{
    std::swap(m_storage, other.m_storage);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
}

template <class Traits> wchar_t* _stringx<Traits>::sync_mirror()
{
    if (m_mirror && ::SysStringLen(m_mirror) == m_size) {
        Traits::copy(m_mirror, c_str(), m_size);
    } else if (m_mirror || m_size > 0) {
        if (!::SysReAllocStringLen(&m_mirror, c_str(), static_cast<UINT>(m_size))) {
            throw std::bad_alloc();
        }
    } else {
        return nullptr;
    }
    m_mirror[m_size] = L'\0';
    return m_mirror;
}

template <class Traits> _stringx<Traits>::string_buffer::~string_buffer()
{
    DWORD saved = ::GetLastError();
    try {
        if (m_copyBack) {
            const wchar_t* mirror = m_target.m_mirror;
            m_target.assign(mirror ? mirror : L"", mirror ? std::wcslen(mirror) : 0);
        }
    } catch (...) {
        // An allocation failure here leaves the string with its old text.
    }
    ::SetLastError(saved);
}

template <class Traits> wchar_t* _stringx<Traits>::string_buffer::get()
{
    m_copyBack = true;
    return m_target.sync_mirror();
}

template class _stringx<qx::char_traitsi>;

void FormatV(_stringx<>& target, const wchar_t* format, va_list arguments)
{
    va_list counting;
    va_copy(counting, arguments);
    // The Microsoft formatters: %s takes a wide string in a wide format.
    int count = _vscwprintf(format, counting);
    va_end(counting);
    std::size_t needed = count < 0 ? 0 : static_cast<std::size_t>(count) + 1;
    if (needed == 0) {
        target.clear();
        return;
    }
    if (needed > target.length()) {
        target.append(needed - target.length(), L'\0');
    }
    _stringx<>::string_buffer buffer(target);
    _vsnwprintf_s(buffer.get(), needed, _TRUNCATE, format, arguments);
}

void Format(_stringx<>& target, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    FormatV(target, format, arguments);
    va_end(arguments);
}

_stringx<> FormatText(const wchar_t* format, ...)
{
    _stringx<> text;
    va_list arguments;
    va_start(arguments, format);
    FormatV(text, format, arguments);
    va_end(arguments);
    return text;
}
