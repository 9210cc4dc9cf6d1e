// The one string type of the library: UTF-16 text that compares and searches
// without regard to case, keeps its heap storage in BSTRs, lends a writable
// BSTR to system calls, and never disturbs the thread's last-error code, so a
// message can be built between a failing call and its GetLastError().
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace qx {

// Character traits that make two characters equal when their lower-case forms are.
struct char_traitsi : std::char_traits<wchar_t> {
    static bool eq(wchar_t a, wchar_t b) noexcept { return std::towlower(a) == std::towlower(b); }
    static bool lt(wchar_t a, wchar_t b) noexcept { return std::towlower(a) < std::towlower(b); }
    static int compare(const wchar_t* a, const wchar_t* b, std::size_t count) noexcept
    {
        return count == 0 ? 0 : _wcsnicmp(a, b, count);
    }
    static const wchar_t* find(const wchar_t* s, std::size_t count, wchar_t c) noexcept
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
};

} // namespace qx

// Holds the last-error code that a string saves on entry to its constructors,
// destructor and buffer release, and restores on their exit.
class last_error_preserver {
protected:
    last_error_preserver() noexcept : m_dwLastError(::GetLastError()) {}
    last_error_preserver(const last_error_preserver&) noexcept : m_dwLastError(::GetLastError()) {}
    last_error_preserver& operator=(const last_error_preserver&) noexcept { return *this; }
    ~last_error_preserver() = default;

    void save_last_error() noexcept { m_dwLastError = ::GetLastError(); }
    void restore_last_error() const noexcept { ::SetLastError(m_dwLastError); }

private:
    DWORD m_dwLastError;
};

template <class Traits = qx::char_traitsi>
class _stringx : public virtual last_error_preserver {
public:
    using traits_type = Traits;
    using size_type = std::size_t;
    static constexpr size_type npos = static_cast<size_type>(-1);
    static constexpr size_type inline_capacity = 7;
    // Lengths are read from system calls as 32-bit values; all ones means "up to the NUL".
    static constexpr unsigned int count_to_nul = 0xFFFFFFFFu;

    class string_buffer;

    _stringx() noexcept { restore_last_error(); }

    _stringx(const wchar_t* text, size_type length)
    {
        construct(text, length);
        restore_last_error();
    }

    _stringx(const wchar_t* text) // NOLINT(google-explicit-constructor): strings are built from literals everywhere
    {
        construct(text, text ? std::wcslen(text) : 0);
        restore_last_error();
    }

    _stringx(const std::wstring& text)
    {
        construct(text.data(), text.size());
        restore_last_error();
    }

    _stringx(const _stringx& other) : last_error_preserver()
    {
        construct(other.c_str(), other.m_size);
        restore_last_error();
    }

    _stringx(_stringx&& other) noexcept : last_error_preserver()
    {
        take(other);
        restore_last_error();
    }

    // Narrow text in the given code page (0: the ANSI code page).
    _stringx(const char* text, UINT codePage, unsigned int length = count_to_nul)
    {
        assign_narrow(text, codePage, length);
        restore_last_error();
    }

    ~_stringx()
    {
        save_last_error();
        release_storage();
        if (m_mirror) {
            ::SysFreeString(m_mirror);
        }
        std::free(m_narrow);
        restore_last_error();
    }

    _stringx& operator=(const _stringx& other)
    {
        if (this != &other) {
            assign(other.c_str(), other.m_size);
        }
        return *this;
    }

    _stringx& operator=(_stringx&& other) noexcept
    {
        if (this != &other) {
            swap(other);
        }
        return *this;
    }

    _stringx& operator=(const wchar_t* text) { return assign(text, text ? std::wcslen(text) : 0); }

    _stringx& assign(const wchar_t* text, size_type length)
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

    _stringx& assign_narrow(const char* text, UINT codePage, unsigned int length = count_to_nul)
    {
        if (!text) {
            return assign(L"", 0);
        }
        if (codePage == 1200 || codePage == 1201) {
            // UTF-16 text ends at its first 16-bit NUL, not at its first zero byte.
            size_type units = length == count_to_nul ? utf16_units(text) : length / 2;
            _stringx converted;
            converted.resize(units);
            std::memcpy(converted.data(), text, units * sizeof(wchar_t));
            if (codePage == 1201) {
                for (size_type i = 0; i < units; ++i) {
                    wchar_t c = converted.data()[i];
                    converted.data()[i] = static_cast<wchar_t>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
                }
            }
            return assign(converted.c_str(), units);
        }
        int source = length == count_to_nul ? -1 : static_cast<int>(length);
        int needed = ::MultiByteToWideChar(codePage, 0, text, source, nullptr, 0);
        if (needed <= 0) {
            return *this;
        }
        _stringx converted;
        converted.resize(static_cast<size_type>(needed));
        int written = ::MultiByteToWideChar(codePage, 0, text, source, converted.data(), needed);
        if (written > 0) {
            // A counted source carries no terminator; a NUL-terminated one converted it too.
            size_type length_out = static_cast<size_type>(written);
            if (source == -1 && length_out > 0) {
                --length_out;
            }
            assign(converted.c_str(), length_out);
        }
        return *this;
    }

    void swap(_stringx& other) noexcept
    {
        swap_text(other);
        std::swap(m_narrow, other.m_narrow);
        std::swap(m_narrowSize, other.m_narrowSize);
        std::swap(m_mirror, other.m_mirror);
    }

    _stringx& append(const wchar_t* text, size_type length)
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

    _stringx& append(const _stringx& other) { return append(other.c_str(), other.m_size); }

    _stringx& append(size_type count, wchar_t c)
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

    void push_back(wchar_t c) { append(1, c); }
    _stringx& operator+=(const _stringx& other) { return append(other); }
    _stringx& operator+=(const wchar_t* text) { return append(text, std::wcslen(text)); }
    _stringx& operator+=(wchar_t c) { return append(1, c); }

    _stringx& erase(size_type position = 0, size_type count = npos)
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

    void resize(size_type size, wchar_t fill = L'\0')
    {
        if (size > m_size) {
            append(size - m_size, fill);
        } else {
            set_size(size);
        }
    }

    void clear() noexcept { set_size(0); }

    size_type find(wchar_t c, size_type position = 0) const noexcept
    {
        if (position >= m_size) {
            return npos;
        }
        const wchar_t* hit = Traits::find(c_str() + position, m_size - position, c);
        return hit ? static_cast<size_type>(hit - c_str()) : npos;
    }

    size_type find(const wchar_t* text, size_type position, size_type length) const noexcept
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

    size_type find(const wchar_t* text, size_type position = 0) const noexcept
    {
        return find(text, position, std::wcslen(text));
    }

    size_type find(const _stringx& text, size_type position = 0) const noexcept
    {
        return find(text.c_str(), position, text.m_size);
    }

    size_type rfind(wchar_t c, size_type position = npos) const noexcept
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

    _stringx substr(size_type position, size_type count = npos) const
    {
        if (position > m_size) {
            throw std::out_of_range("invalid string position");
        }
        return _stringx(c_str() + position, count < m_size - position ? count : m_size - position);
    }

    // Whole-length, case-insensitive equality.
    bool equals(const wchar_t* text, size_type length) const noexcept
    {
        return length == m_size && Traits::compare(c_str(), text, length) == 0;
    }
    bool equals(const wchar_t* text) const noexcept { return equals(text, std::wcslen(text)); }
    bool operator==(const _stringx& other) const noexcept { return equals(other.c_str(), other.m_size); }
    bool operator!=(const _stringx& other) const noexcept { return !(*this == other); }
    bool operator==(const wchar_t* text) const noexcept { return equals(text); }
    bool operator!=(const wchar_t* text) const noexcept { return !equals(text); }

    const wchar_t* c_str() const noexcept { return is_inline() ? m_storage.inline_chars : m_storage.heap; }
    wchar_t* data() noexcept { return is_inline() ? m_storage.inline_chars : m_storage.heap; }
    operator const wchar_t*() const noexcept { return c_str(); } // NOLINT: handed to Windows calls everywhere
    // Any integer index: with a plain size_type, s[0] would be ambiguous on 32-bit
    // targets against the built-in subscript of the const wchar_t* conversion.
    template <class Index, std::enable_if_t<std::is_integral<Index>::value, int> = 0>
    wchar_t operator[](Index i) const noexcept
    {
        return c_str()[static_cast<size_type>(i)];
    }
    size_type length() const noexcept { return m_size; }
    size_type size() const noexcept { return m_size; }
    size_type capacity() const noexcept { return m_capacity; }
    bool empty() const noexcept { return m_size == 0; }
    static constexpr size_type max_size() noexcept { return (std::numeric_limits<size_type>::max() >> 1) - 1; }
    std::wstring str() const { return std::wstring(c_str(), m_size); }

    // The text in the thread's ANSI code page; valid until the next call or destruction.
    const char* narrow()
    {
        size_type needed = 2 * m_size + 2;
        if (!m_narrow || needed >= m_narrowSize) {
            std::free(m_narrow);
            m_narrowSize = 0;
            size_type bytes = (needed & ~static_cast<size_type>(63)) + 64;
            m_narrow = static_cast<char*>(std::malloc(bytes));
            if (!m_narrow) {
                throw std::bad_alloc();
            }
            m_narrowSize = bytes;
        }
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, c_str(), static_cast<int>(m_size + 1), m_narrow,
                              static_cast<int>(m_narrowSize), nullptr, nullptr);
        return m_narrow;
    }

    // A BSTR copy of the text that the string keeps and owns (for COM calls).
    BSTR bstr()
    {
        sync_mirror();
        return m_mirror;
    }

private:
    union Storage {
        wchar_t inline_chars[inline_capacity + 1];
        wchar_t* heap;
    };

    bool is_inline() const noexcept { return m_capacity == inline_capacity; }

    void construct(const wchar_t* text, size_type length)
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

    void take(_stringx& other) noexcept
    {
        swap(other);
    }

    static wchar_t* allocate(size_type capacity)
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

    void release_storage() noexcept
    {
        if (!is_inline()) {
            ::SysFreeString(m_storage.heap);
            m_capacity = inline_capacity;
        }
    }

    // The capacity for a size above the current one: at least half as much again.
    size_type grown_capacity(size_type needed) const
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

    static size_type utf16_units(const char* text) noexcept
    {
        size_type units = 0;
        while (text[2 * units] != 0 || text[2 * units + 1] != 0) {
            ++units;
        }
        return units;
    }

    void grow(size_type needed)
    {
        size_type capacity = grown_capacity(needed);
        wchar_t* block = allocate(capacity);
        Traits::copy(block, c_str(), m_size + 1);
        release_storage();
        m_storage.heap = block;
        m_capacity = capacity;
    }

    void set_size(size_type size) noexcept
    {
        m_size = size;
        data()[size] = L'\0';
    }

    // Exchanges text and storage only; narrow buffer and mirror stay with their object.
    void swap_text(_stringx& other) noexcept
    {
        std::swap(m_storage, other.m_storage);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    wchar_t* sync_mirror()
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

    Storage m_storage{};
    size_type m_size = 0;
    size_type m_capacity = inline_capacity;
    char* m_narrow = nullptr;
    size_type m_narrowSize = 0;
    BSTR m_mirror = nullptr;
};

// Scoped writable access to a string's text for a system call. On release the
// string takes the text back up to its first NUL, and the last-error code the
// call left is preserved.
template <class Traits>
class _stringx<Traits>::string_buffer {
public:
    explicit string_buffer(_stringx& target) noexcept : m_target(target) {}
    string_buffer(const string_buffer&) = delete;
    string_buffer& operator=(const string_buffer&) = delete;

    ~string_buffer()
    {
        DWORD saved = ::GetLastError();
        try {
            if (m_copyBack) {
                const wchar_t* mirror = m_target.m_mirror;
                m_target.assign(mirror ? mirror : L"", mirror ? std::wcslen(mirror) : 0);
            }
            if (m_narrowText) {
                m_target.assign_narrow(m_narrowText, CP_ACP);
            }
        } catch (...) {
            // An allocation failure here leaves the string with its old text.
        }
        ::SetLastError(saved);
    }

    // The writable buffer: room for length() characters and a terminator.
    wchar_t* get()
    {
        m_copyBack = true;
        return m_target.sync_mirror();
    }
    operator wchar_t*() { return get(); } // NOLINT(google-explicit-constructor)

    // Text that a narrow call wrote; the string takes it over on release.
    void attach_narrow(const char* text) noexcept { m_narrowText = text; }

private:
    _stringx& m_target;
    bool m_copyBack = false;
    const char* m_narrowText = nullptr;
};

// printf-style formatting into a string: the target becomes exactly the formatted text.
// %s takes a wide string.
void Format(_stringx<>& target, const wchar_t* format, ...);
void FormatV(_stringx<>& target, const wchar_t* format, va_list arguments);

// The formatted text as a new string.
_stringx<> FormatText(const wchar_t* format, ...);
