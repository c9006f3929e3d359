#include "module/body.hpp"

#include "module/fast_paths.hpp"
#include "module/function.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"
#include "module/registry.hpp"
#include "module/standard_json.hpp"
#include "module/standard_loads.hpp"
#include "module/standard_names.hpp"

#include <initializer_list>
#include <utility>

namespace {

// Binds the names of the namespace in source order, remembering the line of
// the statement that runs so that a failure can name it.
class ModuleBody {
public:
    explicit ModuleBody(PyObject *namespace_dict) : namespace_(namespace_dict) {}

    bool run() {
        return at(1) && import_names("typing", {{"Union", "_Union"}, {"Dict", "_Dict"},
                                                {"Optional", "_Optional"}, {"List", "_List"}}) &&
               at(2) && import_module("locale", locale_name) &&
               keep_standard(locale_name, standard.locale, "getdefaultlocale", standard.getdefaultlocale) &&
               at(3) && import_module("json", json_name) &&
               keep_standard(json_name, standard.json, "dumps", standard.json_dumps) && keep_json_state() &&
               keep_json_loads_state() &&
               at(4) && import_module("os.path", path_name) &&
               at(5) && import_module("os", os_name) &&
               at(8) && bind("LIMIT_MODE_ABSOLUTE", Ref(PyLong_FromLong(0))) &&
               at(9) && bind("LIMIT_MODE_RELATIVE", Ref(PyLong_FromLong(1))) &&
               at(10) && bind("LIMIT_MODE_RELATIVE_PERCENTAGE", Ref(PyLong_FromLong(2))) &&
               at(11) && bind("InvalidNameCharacters", Ref(PyUnicode_FromString(".\\/:*?\"<>|"))) &&
               at(13) && bind("_value_cls_map", value_class_map()) && bind_members();
    }

    int line() const { return line_; }

private:
    bool at(int line) {
        line_ = line;
        return true;
    }

    bool bind(const char *name, Ref value) {
        return value && PyDict_SetItemString(namespace_, name, value.get()) == 0;
    }

    // import <dotted> as <alias>: the module that the dotted name denotes itself.
    bool import_module(const char *dotted, const GlobalName &alias) {
        Ref name(PyUnicode_FromString(dotted));
        Ref fromlist(Py_BuildValue("(s)", "*"));
        if (!name || !fromlist)
            return false;
        Ref module(PyImport_ImportModuleLevelObject(name.get(), namespace_, nullptr, fromlist.get(), 0));
        return module && PyDict_SetItem(namespace_, alias.name(), module.get()) == 0;
    }

    // Keeps the module just bound as `alias` and its function `function` (see StandardModules).
    bool keep_standard(const GlobalName &alias, PyObject *&module, const char *function, PyObject *&kept) {
        PyObject *found = PyDict_GetItem(namespace_, alias.name());
        if (!found)
            return false;
        Py_INCREF(found);
        Py_XSETREF(module, found);
        PyObject *value = PyObject_GetAttrString(found, function);
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_Exception))
                return false;
            PyErr_Clear();  // a module without it: what it gives is never worked out here
        }
        Py_XSETREF(kept, value);
        return true;
    }

    // from <module> import <name> as <alias>, ...
    bool import_names(const char *module_name, std::initializer_list<std::pair<const char *, const char *>> imports) {
        Ref name(PyUnicode_FromString(module_name));
        Ref fromlist(PyTuple_New(static_cast<Py_ssize_t>(imports.size())));
        if (!name || !fromlist)
            return false;
        Py_ssize_t index = 0;
        for (const auto &entry : imports) {
            PyObject *imported = PyUnicode_FromString(entry.first);
            if (!imported)
                return false;
            PyTuple_SET_ITEM(fromlist.get(), index++, imported);
        }
        Ref module(PyImport_ImportModuleLevelObject(name.get(), namespace_, nullptr, fromlist.get(), 0));
        if (!module)
            return false;
        index = 0;
        for (const auto &entry : imports) {
            PyObject *imported = PyTuple_GET_ITEM(fromlist.get(), index++);
            Ref value(PyObject_GetAttr(module.get(), imported));
            if (!value) {
                if (!PyErr_ExceptionMatches(PyExc_AttributeError))
                    return false;
                PyErr_Clear();
                PyErr_Format(PyExc_ImportError, "cannot import name %S", imported);
                return false;
            }
            if (!bind(entry.second, std::move(value)))
                return false;
        }
        return true;
    }

    // Each kind name mapped to the builtin callable of that name.
    Ref value_class_map() {
        Ref map(PyDict_New());
        if (!map)
            return map;
        const std::pair<const char *, PyObject *> entries[] = {
            {"str", reinterpret_cast<PyObject *>(&PyUnicode_Type)},
            {"int", reinterpret_cast<PyObject *>(&PyLong_Type)},
            {"float", reinterpret_cast<PyObject *>(&PyFloat_Type)},
            {"bool", reinterpret_cast<PyObject *>(&PyBool_Type)},
            {"dict", reinterpret_cast<PyObject *>(&PyDict_Type)},
            {"list", reinterpret_cast<PyObject *>(&PyList_Type)},
            {"eval", captured.eval},
        };
        for (const auto &entry : entries)
            if (PyDict_SetItemString(map.get(), entry.first, entry.second) < 0)
                return Ref();
        return map;
    }

    Ref member_value(const MemberSpec &member, const char *class_name) {
        if (member.kind == MemberKind::Constant)
            return Ref(PyUnicode_FromString(member.signature));
        Ref function(make_function(member, class_name));
        if (!function)
            return function;
        if (member.kind == MemberKind::StaticMethod)
            return Ref(PyObject_CallFunctionObjArgs(captured.staticmethod, function.get(), nullptr));
        if (member.kind == MemberKind::Property)
            return Ref(PyObject_CallFunctionObjArgs(captured.property, function.get(), nullptr));
        return function;
    }

    static void install_slots(PyTypeObject *type, const DirectSlots &slots) {
        if (slots.getattro) {
            note_installed_lookup(slots.getattro);
            type->tp_getattro = slots.getattro;
        }
        if (slots.subscript)
            type->tp_as_mapping->mp_subscript = slots.subscript;
        if (slots.assign_subscript)
            type->tp_as_mapping->mp_ass_subscript = slots.assign_subscript;
        if (slots.init)
            type->tp_init = slots.init;
        PyType_Modified(type);
    }

    // The functions and classes of the registry, in its order.
    bool bind_members() {
        for (const ModuleMember &member : module_members)
            if (!(member.cls ? build_class(*member.cls) : bind_function(*member.function)))
                return false;
        return true;
    }

    bool bind_function(const MemberSpec &function) {
        at(function.line);
        return bind(function.name, Ref(make_function(function, nullptr)));
    }

    // class <name>: a namespace with __module__ and __qualname__, then every
    // member in order; the class itself is made by calling type.
    bool build_class(const ClassSpec &spec) {
        at(spec.line);
        Ref module_name = Ref::borrow(PyDict_GetItemWithError(namespace_, names.dunder_name));
        Ref class_name = module_name ? Ref::borrow(spec.name->name()) : Ref();
        Ref class_namespace(class_name ? PyDict_New() : nullptr);
        if (!class_namespace ||
            PyDict_SetItem(class_namespace.get(), names.dunder_module, module_name.get()) < 0 ||
            PyDict_SetItem(class_namespace.get(), names.dunder_qualname, class_name.get()) < 0) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_SystemError, "the module namespace has no __name__");
            return false;
        }
        for (const MemberSpec &member : spec.members) {
            at(member.line);
            Ref value = member_value(member, spec.name->text());
            if (!value || PyDict_SetItemString(class_namespace.get(), member.name, value.get()) < 0)
                return false;
        }
        at(spec.line);
        Ref bases(PyTuple_New(0));
        if (!bases)
            return false;
        Ref made(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PyType_Type), class_name.get(),
                                              bases.get(), class_namespace.get(), nullptr));
        if (!made)
            return false;
        Py_INCREF(made.get());
        Py_XSETREF(*spec.made, made.get());
        PyTypeObject *made_type = reinterpret_cast<PyTypeObject *>(made.get());
        if (made_type->tp_getattro != PyObject_GenericGetAttr)
            note_interpreter_getattr_hook(made_type->tp_getattro);
        install_slots(made_type, slots_to_install(spec.slots));
        return PyDict_SetItem(namespace_, class_name.get(), made.get()) == 0;
    }

    PyObject *namespace_;
    int line_ = 0;
};

}  // namespace

bool run_module_body(PyObject *namespace_dict, int &failed_line) {
    ModuleBody body(namespace_dict);
    if (body.run())
        return true;
    failed_line = body.line();
    return false;
}
