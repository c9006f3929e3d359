// Interned strings for the names that the bodies look up or call, made once
// when the module initialises.
#pragma once
#include "module/python.hpp"

// X(member, "text")
#define YOL_NAMES(X)                                  \
    X(ExtName, "ExtName")                             \
    X(real, "real")                                   \
    X(imag, "imag")                                   \
    X(items, "items")                                 \
    X(clone, "clone")                                 \
    X(name, "name")                                   \
    X(description, "description")                     \
    X(attributes, "attributes")                       \
    X(default_, "default")                            \
    X(to_dict, "to_dict")                             \
    X(from_dict, "from_dict")                         \
    X(save, "save")                                   \
    X(load, "load")                                   \
    X(dumps, "dumps")                                 \
    X(endswith, "endswith")                           \
    X(loads, "loads")                                 \
    X(getdefaultlocale, "getdefaultlocale")           \
    X(dunder_class, "__class__")                      \
    X(dunder_name, "__name__")                        \
    X(dunder_setattr, "__setattr__")                  \
    X(dunder_str, "__str__")                          \
    X(dunder_init, "__init__")                        \
    X(dunder_getattr, "__getattr__")                  \
    X(dunder_getattribute, "__getattribute__")        \
    X(dunder_getitem, "__getitem__")                  \
    X(dunder_setitem, "__setitem__")                  \
    X(dunder_delitem, "__delitem__")                  \
    X(dunder_delattr, "__delattr__")                  \
    X(dunder_del, "__del__")                          \
    X(dunder_module, "__module__")                    \
    X(dunder_qualname, "__qualname__")                \
    X(dunder_builtins, "__builtins__")                \
    X(dunder_code, "__code__")                        \
    X(dunder_defaults, "__defaults__")                \
    X(dunder_annotations, "__annotations__")          \
    X(parameters, "parameters")                       \
    X(keys, "keys")                                   \
    X(abspath, "abspath")                             \
    X(basename, "basename")                           \
    X(dirname, "dirname")                             \
    X(exists, "exists")                               \
    X(isdir, "isdir")                                 \
    X(isfile, "isfile")                               \
    X(listdir, "listdir")                             \
    X(makedirs, "makedirs")                           \
    X(pathconf, "pathconf")                           \
    X(realpath, "realpath")                           \
    X(remove, "remove")                               \
    X(rename, "rename")                               \
    X(dot, ".")                                       \
    X(dash, "-")                                      \
    X(self, "self")                                   \
    X(module_name, "yol_vovoruze")

struct Names {
#define YOL_NAME_FIELD(member, text) PyObject *member = nullptr;
    YOL_NAMES(YOL_NAME_FIELD)
#undef YOL_NAME_FIELD
};

extern Names names;

// A name that belongs with the code that uses it (a class's name in the
// module namespace, the private name of a table): declared there, and
// interned with the names above when the module initialises. Each one
// joins the list of these names when the extension is loaded.
class InternedName {
public:
    explicit InternedName(const char *text) noexcept : text_(text), next_(first_) { first_ = this; }
    InternedName(const InternedName &) = delete;
    InternedName &operator=(const InternedName &) = delete;

    PyObject *get() const noexcept { return object_; }
    const char *text() const noexcept { return text_; }

private:
    friend bool intern_names();
    static InternedName *first_;  // constant-initialised: set before any name joins

    const char *text_;
    InternedName *next_;
    PyObject *object_ = nullptr;
};

// Interns every name; false with an exception set when memory runs out.
bool intern_names();
