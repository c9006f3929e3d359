#include "book/unit_text.hpp"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

// The longest text one character of a str becomes: \u00XX.
constexpr std::size_t longest_escape = 6;

// Up to this length a str gets room for every character escaped at once;
// a longer one is counted first, so that it never asks for much more memory
// than its text takes.
constexpr std::size_t longest_str_not_counted = 4096;

template <typename Unit>
Unit *copy_ascii(Unit *to, const char *text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        *to++ = static_cast<Unit>(text[i]);
    return to;
}

inline bool plain(Py_UCS4 character) { return character >= 0x20 && character != '"' && character != '\\'; }

template <typename Unit>
Unit *copy_escape(Unit *to, Py_UCS4 character) {
    static const char hex[] = "0123456789abcdef";
    *to++ = '\\';
    switch (character) {
    case '"': *to++ = '"'; break;
    case '\\': *to++ = '\\'; break;
    case '\n': *to++ = 'n'; break;
    case '\r': *to++ = 'r'; break;
    case '\t': *to++ = 't'; break;
    case '\b': *to++ = 'b'; break;
    case '\f': *to++ = 'f'; break;
    default:
        to = copy_ascii(to, "u00", 3);
        *to++ = hex[character >> 4];
        *to++ = hex[character & 0xf];
    }
    return to;
}

// Writes the characters of `text` escaped; returns the end of what it wrote.
template <typename Unit, typename From>
Unit *copy_escaped(Unit *to, const From *text, Py_ssize_t length) {
    for (const From *at = text, *end = text + length; at != end; ++at)
        to = plain(*at) ? (*to = static_cast<Unit>(*at), to + 1) : copy_escape(to, *at);
    return to;
}

// One byte a character on both sides, the usual case: runs of characters
// that need no escape are copied at once.
template <>
Py_UCS1 *copy_escaped(Py_UCS1 *to, const Py_UCS1 *text, Py_ssize_t length) {
    const Py_UCS1 *run = text, *end = text + length;
    for (const Py_UCS1 *at = text; at != end; ++at) {
        if (plain(*at))
            continue;
        std::memcpy(to, run, static_cast<std::size_t>(at - run));
        to = copy_escape(to + (at - run), *at);
        run = at + 1;
    }
    std::memcpy(to, run, static_cast<std::size_t>(end - run));
    return to + (end - run);
}

// The characters that `text` takes once escaped.
template <typename From>
std::size_t escaped_length(const From *text, Py_ssize_t length) {
    std::size_t total = static_cast<std::size_t>(length);
    for (const From *at = text, *end = text + length; at != end; ++at)
        if (!plain(*at))
            total += *at == '"' || *at == '\\' || *at == '\n' || *at == '\r' || *at == '\t' || *at == '\b' ||
                             *at == '\f'
                         ? 1
                         : longest_escape - 1;
    return total;
}

std::size_t escaped_length(PyObject *str) {
    const void *data = PyUnicode_DATA(str);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return escaped_length(static_cast<const Py_UCS1 *>(data), length);
    case PyUnicode_2BYTE_KIND: return escaped_length(static_cast<const Py_UCS2 *>(data), length);
    default: return escaped_length(static_cast<const Py_UCS4 *>(data), length);
    }
}

template <typename Unit>
Unit *copy_escaped(Unit *to, PyObject *str) {
    const void *data = PyUnicode_DATA(str);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return copy_escaped(to, static_cast<const Py_UCS1 *>(data), length);
    case PyUnicode_2BYTE_KIND: return copy_escaped(to, static_cast<const Py_UCS2 *>(data), length);
    default: return copy_escaped(to, static_cast<const Py_UCS4 *>(data), length);
    }
}

template <typename Wide, typename Narrow>
void widen_units(unsigned char *data, std::size_t size) {
    // From the end backwards, so that no unit is overwritten before it is read.
    const Narrow *narrow = reinterpret_cast<const Narrow *>(data);
    Wide *wide = reinterpret_cast<Wide *>(data);
    for (std::size_t i = size; i-- > 0;)
        wide[i] = narrow[i];
}

}  // namespace

UnitText::~UnitText() { std::free(data_); }

void UnitText::wide_ascii(const char *text, std::size_t length) {
    reserve(length);
    switch (kind_) {
    case PyUnicode_1BYTE_KIND: copy_ascii(end<Py_UCS1>(), text, length); break;
    case PyUnicode_2BYTE_KIND: copy_ascii(end<Py_UCS2>(), text, length); break;
    default: copy_ascii(end<Py_UCS4>(), text, length); break;
    }
    size_ += length;
}

namespace {

constexpr uint64_t every_byte(unsigned char byte) { return 0x0101010101010101u * byte; }

// Whether any of the 8 bytes in `word` is one that the encoder escapes: a
// control character, the quotation mark or the backslash.
inline bool escapes_in(uint64_t word) {
    const uint64_t high = every_byte(0x80);
    const uint64_t quote = word ^ every_byte('"'), backslash = word ^ every_byte('\\');
    const uint64_t control = (word - every_byte(0x20)) & ~word;
    const uint64_t is_quote = (quote - every_byte(1)) & ~quote;
    const uint64_t is_backslash = (backslash - every_byte(1)) & ~backslash;
    return ((control | is_quote | is_backslash) & high) != 0;
}

// Copies the 1 to 7 characters of `from` when none needs an escape, by two
// reads that may overlap instead of a loop; false, with nothing written, when
// one does.
bool copy_short_plain(Py_UCS1 *to, const Py_UCS1 *from, std::size_t length) {
    if (length >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + length - 4, 4);
        if (escapes_in(head | uint64_t(tail) << 32))
            return false;
        std::memcpy(to, &head, 4);
        std::memcpy(to + length - 4, &tail, 4);
        return true;
    }
    const Py_UCS1 first = from[0], middle = from[length / 2], last = from[length - 1];
    if (!plain(first) || !plain(middle) || !plain(last))
        return false;
    to[0] = first;
    to[length / 2] = middle;
    to[length - 1] = last;
    return true;
}

// A str of one byte a character into a text of one byte a character:
// eight characters at a time while none needs an escape.
Py_UCS1 *copy_escaped_bytes(Py_UCS1 *to, const Py_UCS1 *from, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, from + i, 8);
        if (escapes_in(word))
            break;
        std::memcpy(to, &word, 8);
        to += 8;
    }
    if (i < length && i + 8 > length) {
        // Fewer than eight left, and nothing escaped before them.
        const std::size_t rest = length - i;
        if (length >= 8) {
            // The last eight, which overlap what is copied already.
            uint64_t word;
            std::memcpy(&word, from + length - 8, 8);
            if (!escapes_in(word)) {
                std::memcpy(to + rest - 8, &word, 8);
                return to + rest;
            }
        } else if (copy_short_plain(to, from, length)) {
            return to + length;
        }
    }
    for (; i < length; ++i)
        to = plain(from[i]) ? (*to = from[i], to + 1) : copy_escape(to, from[i]);
    return to;
}

}  // namespace

void UnitText::quoted(PyObject *str) {
    const int kind = PyUnicode_KIND(str);
    const std::size_t characters = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    if (kind == PyUnicode_1BYTE_KIND && kind_ == PyUnicode_1BYTE_KIND && characters <= longest_str_not_counted) {
        reserve(2 + characters * longest_escape);
        ascii_ = ascii_ && PyUnicode_IS_ASCII(str);
        Py_UCS1 *first = end<Py_UCS1>(), *to = first;
        *to++ = '"';
        to = copy_escaped_bytes(to, PyUnicode_1BYTE_DATA(str), characters);
        *to++ = '"';
        size_ += static_cast<std::size_t>(to - first);
        return;
    }
    if (kind == PyUnicode_1BYTE_KIND && !PyUnicode_IS_ASCII(str))
        ascii_ = false;
    if (kind > kind_)
        widen(kind);
    const std::size_t length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    reserve(2 + (length <= longest_str_not_counted ? length * longest_escape : escaped_length(str)));
    switch (kind_) {
    case PyUnicode_1BYTE_KIND: {
        Py_UCS1 *first = end<Py_UCS1>(), *to = first;
        *to++ = '"';
        to = copy_escaped(to, str);
        *to++ = '"';
        size_ += static_cast<std::size_t>(to - first);
        break;
    }
    case PyUnicode_2BYTE_KIND: {
        Py_UCS2 *first = end<Py_UCS2>(), *to = first;
        *to++ = '"';
        to = copy_escaped(to, str);
        *to++ = '"';
        size_ += static_cast<std::size_t>(to - first);
        break;
    }
    default: {
        Py_UCS4 *first = end<Py_UCS4>(), *to = first;
        *to++ = '"';
        to = copy_escaped(to, str);
        *to++ = '"';
        size_ += static_cast<std::size_t>(to - first);
        break;
    }
    }
}

// Grows at least twofold, so that appending stays linear.
void UnitText::grow(std::size_t more) {
    const std::size_t most = std::numeric_limits<std::size_t>::max() / 4 / 2;
    if (more > most - size_)
        throw std::bad_alloc();
    std::size_t capacity = capacity_ ? capacity_ * 2 : 4096;
    if (capacity > most)
        capacity = most;
    if (capacity < size_ + more)
        capacity = size_ + more;
    void *grown = std::realloc(data_, capacity * static_cast<std::size_t>(kind_));
    if (!grown)
        throw std::bad_alloc();
    data_ = static_cast<unsigned char *>(grown);
    capacity_ = capacity;
}

void UnitText::widen(int kind) {
    const std::size_t size = size_, capacity = capacity_;
    // Room for as many units of the new width, kept in step with capacity_.
    void *grown = std::realloc(data_, (capacity ? capacity : 1) * static_cast<std::size_t>(kind));
    if (!grown)
        throw std::bad_alloc();
    data_ = static_cast<unsigned char *>(grown);
    if (kind_ == PyUnicode_1BYTE_KIND && kind == PyUnicode_2BYTE_KIND)
        widen_units<Py_UCS2, Py_UCS1>(data_, size);
    else if (kind_ == PyUnicode_1BYTE_KIND)
        widen_units<Py_UCS4, Py_UCS1>(data_, size);
    else
        widen_units<Py_UCS4, Py_UCS2>(data_, size);
    kind_ = kind;
}

PyObject *UnitText::make_str() const {
    // The narrowest form that holds the text, as every str is stored: known
    // from what was appended, so the text is not searched for its largest
    // character (a str of 2 or 4 bytes a character holds one that takes them).
    const Py_UCS4 largest = kind_ == PyUnicode_1BYTE_KIND ? (ascii_ ? 0x7f : 0xff)
                            : kind_ == PyUnicode_2BYTE_KIND ? 0xffff
                                                            : 0x10ffff;
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(size_), largest);
    if (text && size_)
        std::memcpy(PyUnicode_DATA(text), data_, size_ * static_cast<std::size_t>(kind_));
    return text;
}
