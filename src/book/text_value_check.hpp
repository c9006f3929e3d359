// A book save's check of the values that ParameterBook.load refuses (None),
// answered by the text form that the save asks for instead of by a walk of
// its own. The writer of that text (book/json_text.hpp) visits every value:
// where the text form read the book's table and every parameter's tables
// without running any code but the module's own, and wrote the whole text
// itself, a text without a null shows that no parameter holds None, and the
// save need not walk the values again. Any other answer leaves the check to
// that walk (refuse_values_load_refuses), which also words the refusal.
#pragma once
#include "module/python.hpp"

class TextValueCheck {
public:
    // Asks the first text form of `book` that starts on this thread while
    // this object lives (the one str(book) makes) to answer.
    explicit TextValueCheck(PyObject *book) noexcept : book_(book), outer_(asked_) { asked_ = this; }
    ~TextValueCheck() { asked_ = outer_; }
    TextValueCheck(const TextValueCheck &) = delete;
    TextValueCheck &operator=(const TextValueCheck &) = delete;

    // The request for `book` that no text form has taken yet, now taken by
    // the caller; nullptr when there is none. A text form made while another
    // of the same book is being made (by code that its parameters run) finds
    // the request taken.
    static TextValueCheck *take(PyObject *book) noexcept {
        TextValueCheck *check = asked_;
        if (!check || check->book_ != book || check->taken_)
            return nullptr;
        check->taken_ = true;
        return check;
    }

    // Given by the text form that took the request, once its text is made.
    void answer(bool no_value_refused) noexcept { no_value_refused_ = no_value_refused; }

    // Whether the text form answered that no parameter holds a value that a
    // load refuses.
    bool no_value_refused() const noexcept { return no_value_refused_; }

private:
    static inline thread_local TextValueCheck *asked_ = nullptr;  // the latest request of this thread
    PyObject *const book_;
    TextValueCheck *const outer_;  // the request of a save that this one runs within
    bool taken_ = false;
    bool no_value_refused_ = false;
};
