// The one string type of the library: UTF-16 text that compares and searches
// without regard to case, keeps its heap storage in BSTRs, lends a writable
// BSTR to system calls, and never disturbs the thread's last-error code, so a
// message can be built between a failing call and its GetLastError().
//
// Declarations only: the one instantiation, _stringx<qx::char_traitsi>, is made
// in stringx.cpp. The Windows types appear as the C++ types they are (BSTR is
// wchar_t*, DWORD unsigned long), so that this header pulls in no system header.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <type_traits>

namespace qx {

// Character traits that make two characters equal when their lower-case forms are.
struct char_traitsi : std::char_traits<wchar_t> {
    static bool eq(wchar_t a, wchar_t b) noexcept;
    static bool lt(wchar_t a, wchar_t b) noexcept;
    static int compare(const wchar_t* a, const wchar_t* b, std::size_t count) noexcept;
    static const wchar_t* find(const wchar_t* s, std::size_t count, wchar_t c) noexcept;
};

} // namespace qx

// Holds the last-error code that a string saves on entry to its constructors,
// destructor and buffer release, and restores on their exit.
class last_error_preserver {
protected:
    last_error_preserver() noexcept;
    last_error_preserver(const last_error_preserver&) noexcept;
    last_error_preserver& operator=(const last_error_preserver&) noexcept { return *this; }
    ~last_error_preserver() = default;

    void save_last_error() noexcept;
    void restore_last_error() const noexcept;

private:
    unsigned long m_dwLastError;
};

template <class Traits = qx::char_traitsi> class _stringx : public virtual last_error_preserver {
public:
    using traits_type = Traits;
    using size_type = std::size_t;
    static constexpr size_type npos = static_cast<size_type>(-1);
    static constexpr size_type inline_capacity = 7;

    class string_buffer;

    _stringx() noexcept;
    _stringx(const wchar_t* text, size_type length);
    _stringx(const wchar_t* text); // NOLINT(google-explicit-constructor): strings are built from literals everywhere
    _stringx(const std::wstring& text);
    _stringx(const _stringx& other);
    _stringx(_stringx&& other) noexcept;
    // NUL-terminated narrow text in the given code page (0: the ANSI code page).
    _stringx(const char* text, unsigned int codePage);
    ~_stringx();

    _stringx& operator=(const _stringx& other);
    _stringx& operator=(_stringx&& other) noexcept;
    _stringx& operator=(const wchar_t* text);
    _stringx& assign(const wchar_t* text, size_type length);
    _stringx& assign_narrow(const char* text, unsigned int codePage);
    void swap(_stringx& other) noexcept;

    _stringx& append(const wchar_t* text, size_type length);
    _stringx& append(const _stringx& other);
    _stringx& append(size_type count, wchar_t c);
    void push_back(wchar_t c);
    _stringx& operator+=(const _stringx& other);
    _stringx& operator+=(const wchar_t* text);
    _stringx& operator+=(wchar_t c);

    _stringx& erase(size_type position = 0, size_type count = npos);
    void resize(size_type size, wchar_t fill = L'\0');
    void clear() noexcept;

    // Searches compare by the traits; each returns the position or npos. An empty
    // text is found at a start position that is not past the end.
    size_type find(wchar_t c, size_type position = 0) const noexcept;
    size_type find(const wchar_t* text, size_type position, size_type length) const noexcept;
    size_type find(const wchar_t* text, size_type position = 0) const noexcept;
    size_type find(const _stringx& text, size_type position = 0) const noexcept;
    size_type rfind(wchar_t c, size_type position = npos) const noexcept;
    _stringx substr(size_type position, size_type count = npos) const;

    // Whole-length, case-insensitive equality.
    bool equals(const wchar_t* text, size_type length) const noexcept;
    bool equals(const wchar_t* text) const noexcept;
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
    static constexpr size_type max_size() noexcept { return (static_cast<size_type>(-1) >> 1) - 1; }
    std::wstring str() const { return std::wstring(c_str(), m_size); }

    // A BSTR copy of the text that the string keeps and owns (for COM calls).
    wchar_t* bstr();

private:
    union Storage {
        wchar_t inline_chars[inline_capacity + 1];
        wchar_t* heap;
    };

    bool is_inline() const noexcept { return m_capacity == inline_capacity; }
    void construct(const wchar_t* text, size_type length);
    static wchar_t* allocate(size_type capacity);
    void release_storage() noexcept;
    size_type grown_capacity(size_type needed) const;
    void grow(size_type needed);
    void set_size(size_type size) noexcept;
    void swap_text(_stringx& other) noexcept;
    wchar_t* sync_mirror();

    Storage m_storage{};
    size_type m_size = 0;
    size_type m_capacity = inline_capacity;
    wchar_t* m_mirror = nullptr; // a BSTR
};

// Scoped writable access to a string's text for a system call. On release the
// string takes the text back up to its first NUL, and the last-error code the
// call left is preserved.
template <class Traits> class _stringx<Traits>::string_buffer {
public:
    explicit string_buffer(_stringx& target) noexcept : m_target(target) { }
    string_buffer(const string_buffer&) = delete;
    string_buffer& operator=(const string_buffer&) = delete;
    ~string_buffer();

    // The writable buffer: room for length() characters and a terminator.
    wchar_t* get();
    operator wchar_t*() { return get(); } // NOLINT(google-explicit-constructor)

private:
    _stringx& m_target;
    bool m_copyBack = false;
};

extern template class _stringx<qx::char_traitsi>;

// printf-style formatting into a string: the target becomes exactly the formatted text.
// %s takes a wide string.
void Format(_stringx<>& target, const wchar_t* format, ...);
void FormatV(_stringx<>& target, const wchar_t* format, va_list arguments);

// The formatted text as a new string.
_stringx<> FormatText(const wchar_t* format, ...);
