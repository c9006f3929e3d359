#include "book/json_text.hpp"

#include "book/float_text.hpp"
#include "book/unit_text.hpp"
#include "module/ref.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

// The json module's own frames around the nesting levels (dumps, encode, the
// chain of iterencode generators, the text of a float) and some to spare: the
// text is written here only where json.dumps would have the room to write it.
constexpr int json_own_frames = 16;

// The deepest nesting walked here, which bounds the C stack the walk takes.
constexpr int deepest_native_nesting = 1000;

// ",", a line feed and the indentation of the deepest line: every line start
// is a piece of it.
struct LineStarts {
    char text[2 + 4 * deepest_native_nesting + UnitText::chunk];
    constexpr LineStarts() : text() {
        text[0] = ',';
        text[1] = '\n';
        for (std::size_t i = 2; i < sizeof text; ++i)
            text[i] = ' ';
    }
};
constexpr LineStarts line_starts;

// The length of the last text written here: the next is likely about as
// long, and room made for it at once saves growing step by step. Only up to a
// few megabytes: one huge text must not make every later one ask for as much.
std::atomic<std::size_t> last_length{0};
constexpr std::size_t largest_length_hint = std::size_t(1) << 22;

enum class Written { yes, left_to_json, failed };

struct FreeWithPyMem {
    void operator()(char *text) const { PyMem_Free(text); }
};

class JsonWriter {
public:
    explicit JsonWriter(int deepest) : deepest_(deepest) {
        text_.reserve(std::min(last_length.load(std::memory_order_relaxed), largest_length_hint));
    }

    // Writes `value`, whose line is indented by `level`.
    Written value(PyObject *value, int level) {
        if (value == Py_None)
            return wrote_null_ = true, literal("null", 4);
        if (value == Py_True)
            return literal("true", 4);
        if (value == Py_False)
            return literal("false", 5);
        const PyTypeObject *type = Py_TYPE(value);
        if (type == &PyUnicode_Type)
            return string(value);
        if (type == &PyLong_Type)
            return integer(value);
        if (type == &PyFloat_Type)
            return real(value);
        if (type == &PyList_Type || type == &PyTuple_Type)
            return array(value, level);
        if (type == &PyDict_Type)
            return object(value, level);
        return Written::left_to_json;
    }

    // The list of a book's forms, as value() writes a list of their dicts.
    Written forms(const std::vector<BookForm> &forms) {
        if (deepest_ <= 0)
            return Written::left_to_json;
        if (forms.empty())
            return literal("[]", 2);
        text_.ascii('[');
        for (std::size_t i = 0; i < forms.size(); ++i) {
            new_line(1, i > 0);
            const BookForm &form = forms[i];
            const Written written = form.form ? value(form.form.get(), 1) : parts(form, 1);
            if (written != Written::yes)
                return written;
        }
        new_line(0);
        return literal("]", 1);
    }

    // Whether a null was written (for None, as a value or a key).
    bool wrote_null() const { return wrote_null_; }

    PyObject *make_str() const {
        last_length.store(text_.length(), std::memory_order_relaxed);
        return text_.make_str();
    }

private:
    Written literal(const char *text, std::size_t length) {
        text_.ascii(text, length);
        return Written::yes;
    }

    Written string(PyObject *str) {
        if (yol_unicode_ready(str) < 0)
            return Written::failed;
        text_.quoted(str);
        return Written::yes;
    }

    Written integer(PyObject *number) {
        int overflow = 0;
        const long long small = PyLong_AsLongLongAndOverflow(number, &overflow);
        if (!overflow) {
            if (small == -1 && PyErr_Occurred())
                return Written::failed;
            return decimal(small);
        }
        // Below 2**1024 the interpreter's repr is plain C and never refused for
        // its length; beyond, newer interpreters may run Python code for it or
        // refuse it, which the json module then reports as it does.
        if (PyLong_AsDouble(number) == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError))
                return Written::failed;
            PyErr_Clear();
            return Written::left_to_json;
        }
        Ref text(PyLong_Type.tp_repr(number));
        if (!text)
            return Written::failed;
        return literal(static_cast<const char *>(PyUnicode_DATA(text.get())),
                       static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.get())));
    }

    Written decimal(long long number) {
        char digits[24];
        char *first = digits + sizeof digits;
        unsigned long long magnitude = number < 0 ? 0ull - static_cast<unsigned long long>(number)
                                                  : static_cast<unsigned long long>(number);
        do {
            *--first = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (number < 0)
            *--first = '-';
        return literal(first, static_cast<std::size_t>(digits + sizeof digits - first));
    }

    // A float as the json module writes it: repr, or NaN, Infinity, -Infinity.
    Written real(PyObject *number) {
        const double x = PyFloat_AS_DOUBLE(number);
        if (std::isnan(x))
            return literal("NaN", 3);
        if (std::isinf(x))
            return x > 0 ? literal("Infinity", 8) : literal("-Infinity", 9);
        char text[longest_float_text];
        if (const std::size_t length = finite_float_text(x, text))
            return literal(text, length);
        std::unique_ptr<char, FreeWithPyMem> repr(PyOS_double_to_string(x, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr));
        if (!repr)
            return Written::failed;
        return literal(repr.get(), std::strlen(repr.get()));
    }

    // A key of a form's dict, written as it stands, and its value.
    struct Member {
        const char *key;
        std::size_t key_length;
        PyObject *value;
    };
    template <std::size_t size>
    static Member member(const char (&key)[size], PyObject *value) {
        return {key, size - 1, value};
    }

    // The dict {"name": ..., "description": ..., "attributes": ...} of a form
    // given by its parts.
    Written parts(const BookForm &form, int level) {
        if (level >= deepest_)
            return Written::left_to_json;
        const Member members[] = {
            member("\"name\": ", form.name.get()),
            member("\"description\": ", form.description.get()),
            member("\"attributes\": ", form.attributes.get()),
        };
        text_.ascii('{');
        bool first = true;
        for (const Member &member : members) {
            new_line(level + 1, !first);
            first = false;
            text_.ascii(member.key, member.key_length);
            const Written written = value(member.value, level + 1);
            if (written != Written::yes)
                return written;
        }
        new_line(level);
        return literal("}", 1);
    }

    // A dict key as the json module turns it into a string.
    Written key(PyObject *key) {
        if (Py_TYPE(key) == &PyUnicode_Type)
            return string(key);
        text_.ascii('"');
        Written written;
        if (key == Py_True || key == Py_False || key == Py_None)
            written = value(key, 0);
        else if (Py_TYPE(key) == &PyFloat_Type)
            written = real(key);
        else if (Py_TYPE(key) == &PyLong_Type)
            written = integer(key);
        else
            return Written::left_to_json;
        text_.ascii('"');
        return written;
    }

    Written array(PyObject *sequence, int level) {
        if (level >= deepest_)
            return Written::left_to_json;
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
        if (size == 0)
            return literal("[]", 2);
        PyObject **items = PySequence_Fast_ITEMS(sequence);
        text_.ascii('[');
        for (Py_ssize_t i = 0; i < size; ++i) {
            new_line(level + 1, i > 0);
            const Written written = value(items[i], level + 1);
            if (written != Written::yes)
                return written;
        }
        new_line(level);
        return literal("]", 1);
    }

    Written object(PyObject *dict, int level) {
        if (level >= deepest_)
            return Written::left_to_json;
        if (PyDict_Size(dict) == 0)
            return literal("{}", 2);
        text_.ascii('{');
        Py_ssize_t position = 0;
        PyObject *key, *item;
        for (bool first = true; PyDict_Next(dict, &position, &key, &item); first = false) {
            new_line(level + 1, !first);
            Written written = this->key(key);
            if (written == Written::yes) {
                text_.ascii(": ", 2);
                written = value(item, level + 1);
            }
            if (written != Written::yes)
                return written;
        }
        new_line(level);
        return literal("}", 1);
    }

    // A line feed and the indentation of `level`, after a "," where the line
    // before ends an item.
    void new_line(int level, bool after_item = false) {
        const std::size_t indentation = 4 * static_cast<std::size_t>(level);
        if (after_item)
            text_.ascii_in_chunk(line_starts.text, 2 + indentation);
        else
            text_.ascii_in_chunk(line_starts.text + 1, 1 + indentation);
    }

    UnitText text_;
    const int deepest_;  // containers nest at most this deep
    bool wrote_null_ = false;
};

}  // namespace

namespace {

// Runs `write` on a writer with the nesting room the json module would have.
template <typename Write>
PyObject *written_text(Write write, bool *wrote_null = nullptr) {
    const int room = yol_recursion_headroom(PyThreadState_Get()) - json_own_frames;
    if (room < 0)
        return nullptr;
    try {
        JsonWriter writer(std::min(room, deepest_native_nesting));
        if (write(writer) != Written::yes)
            return nullptr;
        if (wrote_null)
            *wrote_null = writer.wrote_null();
        return writer.make_str();
    } catch (const std::exception &) {  // std::bad_alloc, or a length beyond what a vector holds
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject *indented_json_text(PyObject *value) {
    return written_text([value](JsonWriter &writer) { return writer.value(value, 0); });
}

PyObject *indented_json_text(const std::vector<BookForm> &forms, bool &wrote_null) {
    return written_text([&forms](JsonWriter &writer) { return writer.forms(forms); }, &wrote_null);
}
