// UnitText: a str built up piece by piece in the code units a str stores (one,
// two or four bytes a character), widened only when a wider character comes,
// and made into a str with one copy at the end.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstring>

class UnitText {
public:
    UnitText() = default;
    UnitText(const UnitText &) = delete;
    UnitText &operator=(const UnitText &) = delete;
    ~UnitText();

    // Appends ASCII text.
    void ascii(const char *text, std::size_t length) {
        if (kind_ == PyUnicode_1BYTE_KIND && length <= capacity_ - size_) {
            std::memcpy(data_ + size_, text, length);
            size_ += length;
        } else {
            wide_ascii(text, length);
        }
    }
    void ascii(char character) { ascii(&character, 1); }

    // Appends the first `length` characters of ASCII text that has at least
    // `chunk` characters: short pieces are copied as one chunk of fixed size.
    static constexpr std::size_t chunk = 32;
    void ascii_in_chunk(const char *text, std::size_t length) {
        if (kind_ == PyUnicode_1BYTE_KIND && length <= chunk && chunk <= capacity_ - size_) {
            std::memcpy(data_ + size_, text, chunk);
            size_ += length;
        } else {
            ascii(text, length);
        }
    }

    // Appends a ready str between quotation marks, escaped as the json
    // module's encoder escapes with ensure_ascii off: the quotation mark, the
    // backslash and the control characters below U+0020, nothing else.
    void quoted(PyObject *str);

    // The text as a new str, or nullptr with MemoryError set.
    PyObject *make_str() const;

    std::size_t length() const { return size_; }
    // Makes room for `more` characters after the text at once.
    void reserve(std::size_t more) {
        if (more > capacity_ - size_)
            grow(more);
    }

    // Appending throws std::bad_alloc when memory runs out.

private:
    void wide_ascii(const char *text, std::size_t length);
    void grow(std::size_t more);
    void widen(int kind);
    template <typename Unit>
    Unit *end() {
        return reinterpret_cast<Unit *>(data_) + size_;
    }

    unsigned char *data_ = nullptr;  // size_ units of kind_ bytes, room for capacity_
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    int kind_ = PyUnicode_1BYTE_KIND;
    bool ascii_ = true;  // no str of one byte a character beyond ASCII was appended
};
