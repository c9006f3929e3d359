#include "book/json_read.hpp"

#include "module/ref.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// Entered once per array and object, as json's scanner enters its levels.
class NestingLevel {
public:
    NestingLevel() noexcept : entered_(Py_EnterRecursiveCall(" while decoding a JSON document") == 0) {
        if (!entered_)
            PyErr_Clear();
    }
    ~NestingLevel() {
        if (entered_)
            Py_LeaveRecursiveCall();
    }
    NestingLevel(const NestingLevel &) = delete;
    NestingLevel &operator=(const NestingLevel &) = delete;
    bool entered() const noexcept { return entered_; }

private:
    const bool entered_;
};

// The characters that json skips between tokens: space, tab, line feed, carriage return.
constexpr std::uint64_t json_space =
    (std::uint64_t(1) << ' ') | (std::uint64_t(1) << '\t') | (std::uint64_t(1) << '\n') | (std::uint64_t(1) << '\r');

inline bool is_digit(Py_UCS4 c) { return c >= '0' && c <= '9'; }

inline int hex_value(Py_UCS4 c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

inline bool is_high_surrogate(Py_UCS4 c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool is_low_surrogate(Py_UCS4 c) { return c >= 0xDC00 && c <= 0xDFFF; }

template <typename Char>
class JsonReader {
public:
    JsonReader(const Char *text, Py_ssize_t length, int kind, bool ascii, const JsonReading &how)
        : at_(text), end_(text + length), kind_(kind), ascii_(ascii), how_(how) {}

    ~JsonReader() {
        for (PyObject *item : pending_)
            Py_DECREF(item);
        for (const Key &key : keys_)
            Py_XDECREF(key.str);
    }

    JsonReader(const JsonReader &) = delete;
    JsonReader &operator=(const JsonReader &) = delete;

    PyObject *document() {
        skip_space();
        Ref found(value(0));
        skip_space();
        return found && at_ == end_ ? found.release() : nullptr;
    }

private:
    // A key seen before, by its characters in the text (which outlives the
    // reader): repeated keys are one object, as json's memo makes them.
    struct Key {
        const Char *start = nullptr;
        Py_ssize_t length = 0;
        PyObject *str = nullptr;
    };
    static constexpr std::size_t key_slots = 256;

    void skip_space() {
        for (; at_ < end_; ++at_) {
            // Indentation comes in runs of spaces, read eight at a time.
            if (sizeof(Char) == 1) {
                std::uint64_t eight;
                while (end_ - at_ >= 8 && (std::memcpy(&eight, at_, 8), eight == 0x2020202020202020u))
                    at_ += 8;
                if (at_ == end_)
                    return;
            }
            const Char c = *at_;
            if (c > ' ' || !((std::uint64_t(1) << c) & json_space))
                return;
        }
    }

    bool follows(const char *word) const {
        const std::size_t length = std::strlen(word);
        if (static_cast<std::size_t>(end_ - at_) < length)
            return false;
        for (std::size_t i = 0; i < length; ++i)
            if (at_[i] != static_cast<Char>(word[i]))
                return false;
        return true;
    }

    PyObject *word(const char *text, PyObject *meaning) {
        if (!meaning || !follows(text))
            return nullptr;
        at_ += std::strlen(text);
        Py_INCREF(meaning);
        return meaning;
    }

    PyObject *value(int depth) {
        if (at_ == end_)
            return nullptr;
        switch (*at_) {
        case '"':
            return string();
        case '{':
            return object(depth + 1);
        case '[':
            return array(depth + 1);
        case 't':
            return word("true", Py_True);
        case 'f':
            return word("false", Py_False);
        case 'n':
            return how_.takes_null ? word("null", Py_None) : nullptr;
        case 'N':
            return word("NaN", how_.nan);
        case 'I':
            return word("Infinity", how_.infinity);
        case '-':
            if (end_ - at_ > 1 && at_[1] == 'I')
                return word("-Infinity", how_.negative_infinity);
            return number();
        default:
            return is_digit(*at_) ? number() : nullptr;
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?, as int() or float() reads it.
    PyObject *number() {
        const Char *start = at_;
        if (*at_ == '-')
            ++at_;
        const Char *digits = at_;
        if (at_ == end_ || !is_digit(*at_))
            return nullptr;
        if (*at_ == '0')
            ++at_;
        else
            while (at_ < end_ && is_digit(*at_))
                ++at_;
        const Char *integer_end = at_;
        bool is_float = false;
        if (at_ < end_ && *at_ == '.') {
            if (end_ - at_ < 2 || !is_digit(at_[1]))
                return nullptr;  // json stops before the ".", which nothing may follow
            is_float = true;
            for (++at_; at_ < end_ && is_digit(*at_);)
                ++at_;
        }
        if (at_ < end_ && (*at_ == 'e' || *at_ == 'E')) {
            const Char *exponent = at_ + 1;
            if (exponent < end_ && (*exponent == '-' || *exponent == '+'))
                ++exponent;
            if (exponent == end_ || !is_digit(*exponent))
                return nullptr;
            is_float = true;
            for (at_ = exponent; at_ < end_ && is_digit(*at_);)
                ++at_;
        }
        if (!is_float && integer_end - digits <= 18) {
            long long magnitude = 0;
            for (const Char *c = digits; c < integer_end; ++c)
                magnitude = magnitude * 10 + static_cast<long long>(*c - '0');
            return PyLong_FromLongLong(*start == '-' ? -magnitude : magnitude);
        }
        std::string ascii(start, at_);  // only ASCII characters were taken
        char *parsed_end = nullptr;
        PyObject *made;
        if (is_float) {
            const double x = PyOS_string_to_double(ascii.c_str(), &parsed_end, nullptr);
            made = x == -1.0 && PyErr_Occurred() ? nullptr : PyFloat_FromDouble(x);
        } else {
            made = PyLong_FromString(ascii.c_str(), &parsed_end, 10);  // refuses what int() refuses
        }
        if (!made || parsed_end != ascii.c_str() + ascii.size()) {
            Py_XDECREF(made);
            PyErr_Clear();
            return nullptr;
        }
        return made;
    }

    // The plain characters of a string from `at_` on: true at its closing
    // quote, false at a backslash or where json refuses the string.
    bool plain_run() {
        for (; at_ < end_; ++at_) {
            const Char c = *at_;
            if (c == '"' || c == '\\')
                return c == '"';
            if (c < 0x20)
                return false;
        }
        return false;
    }

    PyObject *made_str(const Char *start, Py_ssize_t length) {
        if (!ascii_ || length < 2)
            return PyUnicode_FromKindAndData(kind_, start, length);
        // Every part of an ASCII text is ASCII: no need to look for its widest character.
        PyObject *str = PyUnicode_New(length, 127);
        if (str)
            std::memcpy(PyUnicode_DATA(str), start, static_cast<std::size_t>(length));
        return str;
    }

    static bool same_characters(const Char *one, const Char *other, Py_ssize_t length) {
        for (Py_ssize_t i = 0; i < length; ++i)
            if (one[i] != other[i])
                return false;
        return true;
    }

    PyObject *string() {
        const Char *start = ++at_;
        if (plain_run()) {
            PyObject *str = made_str(start, at_ - start);
            ++at_;
            return str;
        }
        return at_ < end_ && *at_ == '\\' ? escaped(start) : nullptr;
    }

    PyObject *key() {
        const Char *start = ++at_;
        if (!plain_run())
            return at_ < end_ && *at_ == '\\' ? escaped(start) : nullptr;
        const Py_ssize_t length = at_ - start;
        ++at_;
        std::size_t hash = static_cast<std::size_t>(length);
        for (const Char *c = start; c < start + length; ++c)
            hash = hash * 1000003u ^ static_cast<std::size_t>(*c);
        Key &slot = keys_[hash % key_slots];
        if (slot.str && slot.length == length && same_characters(slot.start, start, length)) {
            Py_INCREF(slot.str);
            return slot.str;
        }
        PyObject *str = known_key(start, length);
        if (!str && !(str = made_str(start, length)))
            return nullptr;
        Py_XDECREF(slot.str);
        Py_INCREF(str);
        slot = Key{start, length, str};
        return str;
    }

    // The known key of these characters (a new reference), or nullptr.
    PyObject *known_key(const Char *start, Py_ssize_t length) const {
        for (std::size_t i = 0; i < how_.known_key_count; ++i) {
            PyObject *known = how_.known_keys[i];
            if (PyUnicode_GET_LENGTH(known) != length)
                continue;
            const Py_UCS1 *characters = PyUnicode_1BYTE_DATA(known);
            Py_ssize_t same = 0;
            while (same < length && start[same] == characters[same])
                ++same;
            if (same == length) {
                Py_INCREF(known);
                return known;
            }
        }
        return nullptr;
    }

    // Four hex digits at `at`, or -1.
    long hex4(const Char *at) const {
        if (end_ - at < 4)
            return -1;
        long code = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(at[i]);
            if (digit < 0)
                return -1;
            code = code * 16 + digit;
        }
        return code;
    }

    // The rest of a string that holds escapes, from its start at `start`.
    PyObject *escaped(const Char *start) {
        characters_.assign(start, at_);
        while (at_ < end_) {
            const Char c = *at_;
            if (c == '"') {
                ++at_;
                return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, characters_.data(),
                                                 static_cast<Py_ssize_t>(characters_.size()));
            }
            if (c < 0x20)
                return nullptr;
            if (c != '\\') {
                characters_.push_back(c);
                ++at_;
                continue;
            }
            if (end_ - at_ < 2)
                return nullptr;
            Py_UCS4 meaning;
            switch (at_[1]) {
            case '"': meaning = '"'; break;
            case '\\': meaning = '\\'; break;
            case '/': meaning = '/'; break;
            case 'b': meaning = '\b'; break;
            case 'f': meaning = '\f'; break;
            case 'n': meaning = '\n'; break;
            case 'r': meaning = '\r'; break;
            case 't': meaning = '\t'; break;
            case 'u': {
                const long code = hex4(at_ + 2);
                if (code < 0)
                    return nullptr;
                at_ += 6;
                meaning = static_cast<Py_UCS4>(code);
                // A high surrogate joins the low one escaped right after it.
                if (is_high_surrogate(meaning) && end_ - at_ > 6 && at_[0] == '\\' && at_[1] == 'u') {
                    const long low = hex4(at_ + 2);
                    if (low < 0)
                        return nullptr;
                    if (is_low_surrogate(static_cast<Py_UCS4>(low))) {
                        meaning = 0x10000 + ((meaning - 0xD800) << 10) + (static_cast<Py_UCS4>(low) - 0xDC00);
                        at_ += 6;
                    }
                }
                characters_.push_back(meaning);
                continue;
            }
            default:
                return nullptr;
            }
            characters_.push_back(meaning);
            at_ += 2;
        }
        return nullptr;
    }

    bool keep(PyObject *item) {
        try {
            pending_.push_back(item);
            return true;
        } catch (const std::bad_alloc &) {
            Py_DECREF(item);
            return false;
        }
    }

    PyObject *array(int depth) {
        NestingLevel level;
        if (depth > how_.deepest || !level.entered())
            return nullptr;
        ++at_;
        skip_space();
        if (at_ < end_ && *at_ == ']') {
            ++at_;
            return PyList_New(0);
        }
        const std::size_t first = pending_.size();
        for (;;) {
            PyObject *item = value(depth);
            if (!item)
                return nullptr;
            if (!keep(item))
                return nullptr;
            skip_space();
            if (at_ == end_)
                return nullptr;
            if (*at_ == ']')
                break;
            if (*at_ != ',')
                return nullptr;
            ++at_;
            skip_space();
        }
        ++at_;
        const std::size_t count = pending_.size() - first;
        PyObject *list = PyList_New(static_cast<Py_ssize_t>(count));
        if (!list)
            return nullptr;
        for (std::size_t i = 0; i < count; ++i)
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), pending_[first + i]);
        pending_.resize(first);
        return list;
    }

    PyObject *object(int depth) {
        NestingLevel level;
        if (depth > how_.deepest || !level.entered())
            return nullptr;
        ++at_;
        skip_space();
        Ref dict(PyDict_New());
        if (!dict)
            return nullptr;
        if (at_ < end_ && *at_ == '}') {
            ++at_;
            return dict.release();
        }
        for (;;) {
            if (at_ == end_ || *at_ != '"')
                return nullptr;
            Ref name(key());
            if (!name)
                return nullptr;
            skip_space();
            if (at_ == end_ || *at_ != ':')
                return nullptr;
            ++at_;
            skip_space();
            Ref item(value(depth));
            if (!item || PyDict_SetItem(dict.get(), name.get(), item.get()) < 0)
                return nullptr;
            skip_space();
            if (at_ == end_)
                return nullptr;
            if (*at_ == '}')
                break;
            if (*at_ != ',')
                return nullptr;
            ++at_;
            skip_space();
        }
        ++at_;
        return dict.release();
    }

    const Char *at_;
    const Char *const end_;
    const int kind_;
    const bool ascii_;  // the text is all ASCII
    const JsonReading &how_;
    std::vector<PyObject *> pending_;  // the items of the arrays being read, owned
    std::vector<Py_UCS4> characters_;  // the string being unescaped
    Key keys_[key_slots];
};

template <typename Char>
PyObject *read_as(PyObject *text, int kind, const JsonReading &how) {
    try {
        JsonReader<Char> reader(static_cast<const Char *>(PyUnicode_DATA(text)), PyUnicode_GET_LENGTH(text), kind,
                                PyUnicode_IS_ASCII(text), how);
        return reader.document();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

}  // namespace

PyObject *read_json(PyObject *text, const JsonReading &how) {
    if (!PyUnicode_CheckExact(text) || yol_unicode_ready(text) < 0) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject *value;
    switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
        value = read_as<Py_UCS1>(text, PyUnicode_1BYTE_KIND, how);
        break;
    case PyUnicode_2BYTE_KIND:
        value = read_as<Py_UCS2>(text, PyUnicode_2BYTE_KIND, how);
        break;
    default:
        value = read_as<Py_UCS4>(text, PyUnicode_4BYTE_KIND, how);
        break;
    }
    if (!value)
        PyErr_Clear();
    return value;
}
