// What a parameter may hold that its book file cannot carry: a value that
// ParameterBook.load refuses (None), a value that the text form cannot hold
// (such as a complex number), a text that UTF-8 cannot encode. Used to refuse
// such a book before its file is touched, and to name the parameter and the
// attribute at fault in the notes of an error.
#pragma once
#include "module/ref.hpp"

enum ValueFault : unsigned {
    kRefusedByLoad = 1,  // None, at any depth of lists and dicts
    kNotInText = 2,      // what the JSON text cannot hold
    kNotUtf8 = 4,        // a text (or key) that UTF-8 cannot encode
    kAnyFault = 7,
};

// Where a fault lies: the parameter's name in its book, and the attribute
// name, or the language of a description text.
struct FaultPlace {
    Ref parameter, key;
    bool in_description = false;
};

// Finds the first parameter of `table` (a book's table: name -> parameter)
// whose description or attributes hold a fault of `kinds`. With
// `module_forms_only`, parameters whose class overrides to_dict are passed
// over (their form is theirs). 1 when found (with `place` set), 0 when not,
// -1 with an exception set.
int find_value_fault(PyObject *table, unsigned kinds, bool module_forms_only, FaultPlace &place);

// The same for one dictionary form read from a book file.
int find_form_fault(PyObject *form, unsigned kinds, FaultPlace &place);

// Refuses (TypeError naming the parameter and the attribute) a book whose
// parameters hold a value that ParameterBook.load would refuse; the
// parameters whose class overrides to_dict are their own business.
bool refuse_values_load_refuses(PyObject *book);

// Adds the note "while saving the book file PATH" (or loading), naming the
// parameter and the attribute at fault where one of `kinds` is found among
// the parameters of `book` or in `form` (one element of a book file); either
// may be nullptr. The exception being raised stays as it is.
void note_book_file(const char *doing, PyObject *path, PyObject *book, PyObject *form, unsigned kinds);
