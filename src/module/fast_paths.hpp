// The fast paths, and the questions they are taken on.
//
// A fast path does what the general path (a lookup, a call through the
// interpreter, a bound method, json.dumps) would do without doing it: it runs
// the module's own body, or writes the module's own text, directly. It is
// taken only while its predicate here answers that the general path would run
// exactly that code on exactly these objects, so that nothing but the time
// tells the two apart.
//
// Built with YOL_GENERAL_PATH_ONLY defined (setup.py defines it when the
// environment variable of that name is 1), every predicate of a fast path
// answers no and the classes keep the interpreter's slots: the module takes
// the general path everywhere. The general path is the behaviour; the test
// suite passes on both builds.
//
// Some questions of the same kind decide what happens rather than how fast,
// and answer the same on both builds: they are at the end of this file.
#pragma once
#include "module/binding.hpp"
#include "module/function.hpp"
#include "module/globals.hpp"
#include "module/instance_read.hpp"
#include "module/member.hpp"
#include "module/names.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"
#include "module/standard_json.hpp"

#ifdef YOL_GENERAL_PATH_ONLY
constexpr bool fast_paths_on = false;
#else
constexpr bool fast_paths_on = true;
#endif

// --- fast paths ----------------------------------------------------------------

// The slots that a class has installed once it is made (see DirectSlots): each
// runs the class's own body as the interpreter's generic slot would after
// looking the member up, and the interpreter puts its generic slot back when
// a host assigns the member. None on the general path; and no attribute
// lookup where the interpreter specialises method loads only under its own
// __getattr__ hook, which the classes then keep (module/python.hpp).
constexpr DirectSlots slots_to_install(DirectSlots direct) {
    if (YOL_KEEP_GETATTR_HOOK)
        direct.getattro = nullptr;
    return fast_paths_on ? direct : DirectSlots{};
}

// self.<name> straight from the instance dictionary while ordinary attribute
// access would find it there (module/instance_read.hpp): 1 with `found` set,
// 0 when ordinary access must answer, -1 with an exception set.
inline int read_from_instance(PyObject *self, PyObject *name, getattrofunc installed, PyObject **found,
                              Reads reads = Reads::Once) {
    return fast_paths_on ? read_instance_attribute(self, name, installed, found, reads) : 0;
}

// Where ordinary attribute access to `name` looks on `self`, while its class
// has the generic lookup (module/instance_read.hpp), and the instance
// dictionary (a new reference in `dict`) where it is read directly: the
// generic lookup can then be made from them, with the dictionary's entries
// kept (module/dict_entries.hpp). Unknown, with `dict` empty, when ordinary
// access must answer (and always on the general path); then an exception is
// set only when making the dictionary failed.
inline NameOwner owner_and_dict(PyObject *self, PyObject *name, getattrofunc installed, Ref &dict) {
    if (!fast_paths_on || !YOL_READ_INSTANCE_DICT)
        return NameOwner::Unknown;
    const NameOwner owner = name_owner(Py_TYPE(self), name, installed);
    if (owner == NameOwner::Unknown)
        return owner;
    dict.reset(yol_instance_dict(self));
    return dict ? owner : NameOwner::Unknown;
}

// The module's own function that self.<name> binds to self, run without the
// lookup and the bound method (module/instance_read.hpp): 1 with a new
// reference in `found`, 0 when ordinary access must answer, -1 with an
// exception set. Always 0 on the general path.
inline int own_method_of(PyObject *self, PyObject *name, PyObject **found) {
    if (!fast_paths_on)
        return 0;
    PyObject *method = nullptr;
    const int result = method_found_on_class(self, name, nullptr, &method);
    if (result <= 0)
        return result;
    if (Py_TYPE(method) != &FunctionType) {
        Py_DECREF(method);
        return 0;
    }
    *found = method;
    return 1;
}

// Whether the class of `self` still has the attribute lookup `installed` that
// the module installed on it: ordinary attribute access would call that very
// function, which can then be called without the indirection.
inline bool has_installed_getattro(PyObject *self, getattrofunc installed) {
    return fast_paths_on && Py_TYPE(self)->tp_getattro == installed;
}

// Whether self.<name> is read straight from the instance dictionary before the
// lookup installed on its class: always where the dictionary is read directly,
// which is quicker than the lookup; elsewhere only while no such lookup runs.
inline bool reads_instance_first(PyObject *self, getattrofunc installed) {
    return YOL_READ_INSTANCE_DICT || !has_installed_getattro(self, installed);
}

// `object` as the module's own function whose body is `body`, or nullptr. A
// call of that function binds its arguments and runs `body`: a caller that
// holds the arguments already may run the body itself, with the same
// binding, messages and traceback entries.
inline FunctionObject *own_function(PyObject *object, Body body) {
    return fast_paths_on ? module_function(object, body) : nullptr;
}

// The member `name` in `type`'s order (a new reference) while it is the
// module's own function whose body is `body`, else an empty Ref: what looking
// the member up and calling it would run, run without either.
inline Ref own_member(PyTypeObject *type, PyObject *name, Body body) {
    return fast_paths_on ? module_member(type, name, body) : Ref();
}

// 1 when the name denotes the module's own function whose body is `body` now,
// which a call through the name would run; 0 when anything else, -1 when the
// lookup fails.
inline int GlobalName::denotes(Body body) {
    if (!fast_paths_on)
        return 0;
    if (PyObject *found = remembered())
        return own_function(found, body) != nullptr;
    Ref found = lookup();
    return found ? own_function(found.get(), body) != nullptr : -1;
}

// The module's function that `method`, a bound method, binds to `self`, or
// nullptr: calling `method` calls that function with `self` first, which the
// caller may do without the call of the bound method.
inline FunctionObject *function_bound_to(PyObject *method, PyObject *self) {
    if (!fast_paths_on || !PyMethod_Check(method) || PyMethod_GET_SELF(method) != self)
        return nullptr;
    PyObject *function = PyMethod_GET_FUNCTION(method);
    return Py_TYPE(function) == &FunctionType ? reinterpret_cast<FunctionObject *>(function) : nullptr;
}

// The module's own __init__ of `type` (whose body is `init_body`) that
// construct() runs on a new instance instead of calling the class, and in
// `kind` what its binding makes of the keyword arguments in the dict
// `keywords`: while the class has it; and, on both builds, when a keyword name
// is not a str. The module's own constructors and copies report such a name
// as its binding does ("__init__() keywords must be strings", with its
// traceback entry) on every version, where from 3.9 on a call through the
// interpreter is refused before it, with another message.
inline Ref own_init(PyTypeObject *type, Body init_body, PyObject *keywords, DictKeywords &kind) {
    Ref init = module_member(type, names.dunder_init, init_body);
    kind = init ? Binder::classify(as_function(init), keywords) : DictKeywords::ByName;
    if (fast_paths_on || kind == DictKeywords::NameNotStr)
        return init;
    return Ref();
}

// The module's own __init__ that the init slot installed on `type` runs, and
// in `kind` what its binding makes of the keyword arguments in the dict
// `keywords`: while the class has it and every keyword name is a str. From
// 3.9 on the interpreter's generic slot refuses another name before the call,
// with its own message: the slot leaves such a call to it.
inline Ref own_init_of_slot(PyTypeObject *type, Body init_body, PyObject *keywords, DictKeywords &kind) {
    Ref init = own_member(type, names.dunder_init, init_body);
    kind = init ? Binder::classify(as_function(init), keywords) : DictKeywords::ByName;
    if (kind == DictKeywords::NameNotStr)
        return Ref();
    return init;
}

// 1 while `json` is the json module imported with the module and nothing that
// json.dumps(value, indent=4, ensure_ascii=False) reads has changed since
// (module/standard_json.hpp): the module's own writer then gives the text of
// that call for values of exact built-in types. 0 otherwise, -1 with an
// interruption raised.
inline int json_writes_as_kept(PyObject *json) {
    if (!fast_paths_on || json != standard.json)
        return 0;
    return json_state_as_kept();
}

// A book save takes the walk of that writer as its check for the values that
// a load refuses (book/text_value_check.hpp) where the text form read the
// book's table and its parameters' tables through read_from_instance and
// found their to_dict through own_method_of and own_function: nothing but
// the module's own code ran. Otherwise, and always on the general path, the
// save walks the values itself.

// Whether the items of `mapping` are walked straight from the dict
// (module/items_walk.hpp) instead of through mapping.items(): an exact dict,
// whose items() is the dict's own, which gives the same entries in the same
// order and fails as that walk fails.
inline bool walks_items_directly(PyObject *mapping) { return fast_paths_on && PyDict_CheckExact(mapping); }

// A book load builds its parameters from the file's text itself
// (book/native_load.cpp, native_load_stands_in) only while json.loads is as
// the module kept it (module/standard_loads.hpp) and the classes, their
// __init__, __setattr__, clone and from_dict and _clone_attribute are the
// module's own, asked through own_member and own_function above; it reads the
// file with the system calls of open() while `open` is the interpreter's
// (book/native_read.cpp, which asks fast_paths_on). Both are off on the
// general path.

// Parameter.clone() makes the copy itself (parameter/direct_copy.cpp) only
// while the class is made as the module makes it (made_as_module_makes in
// table/construct.hpp, asked through own_member) and has no __del__, the last
// lookup of _clone_attribute still finds the module's own (clone_known_own,
// through own_function) and both tables hold plain scalars only, which that
// function gives back as they are: the copy is then what the call of the
// class would make, stored as its __setattr__ hands the tables to object's.
// Off on the general path.

// --- the same on both builds -----------------------------------------------------
//
// module_member and module_function (module/function.hpp) answer truly on both
// builds. They are asked where a class that keeps the module's own member is
// the module's to answer for and one with its own answers for itself: the
// values of the text that the module's __str__ writes are checked when a book
// is saved; a directory save builds the text of the books that the module
// writes, and plans the folders of the directories that it saves, before it
// touches the disk; json is given copies of the tables in the forms of the
// module's to_dict; a slot adds the traceback entry of the member whose body
// it ran.

// Whether the module works out what the function `ask` would answer instead of
// calling it: the standard locale.getdefaultlocale(), from 3.11 on, where a
// call warns that it is deprecated. The module gives the same language
// without the warning.
inline bool answers_for_getdefaultlocale(PyObject *ask) {
    return YOL_GETDEFAULTLOCALE_WARNS && ask == standard.getdefaultlocale;
}
