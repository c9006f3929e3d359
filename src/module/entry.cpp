// The entry point and the two steps of the module's creation.
#include "module/body.hpp"
#include "module/function.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "module/ref.hpp"
#include "module/traceback.hpp"

#include <cstdio>
#include <cstring>

namespace {

// Copies spec.<attribute> into the namespace as <key>; a missing attribute is skipped.
bool copy_spec_attribute(PyObject *spec, PyObject *namespace_dict, const char *attribute, const char *key,
                         bool none_too) {
    Ref value(PyObject_GetAttrString(spec, attribute));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return false;
        PyErr_Clear();
        return true;
    }
    if (value.get() == Py_None && !none_too)
        return true;
    return PyDict_SetItemString(namespace_dict, key, value.get()) == 0;
}

PyObject *create_module(PyObject *spec, PyModuleDef *) {
    PyInterpreterState *interpreter = yol_current_interpreter();
    if (!records.interpreter)
        records.interpreter = interpreter;
    if (records.interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        return nullptr;
    }
    if (records.module) {
        // The import system gives the module it is handed a fresh state
        // pointer, dropping the one that marked it initialised; free that.
        PyMem_Free(PyModule_GetState(records.module));
        Py_INCREF(records.module);
        return records.module;
    }
    Ref name(PyObject_GetAttrString(spec, "name"));
    if (!name)
        return nullptr;
    Ref module(PyModule_NewObject(name.get()));
    if (!module)
        return nullptr;
    PyObject *namespace_dict = PyModule_GetDict(module.get());
    if (!namespace_dict || !copy_spec_attribute(spec, namespace_dict, "loader", "__loader__", true) ||
        !copy_spec_attribute(spec, namespace_dict, "origin", "__file__", true) ||
        !copy_spec_attribute(spec, namespace_dict, "parent", "__package__", true) ||
        !copy_spec_attribute(spec, namespace_dict, "submodule_search_locations", "__path__", false))
        return nullptr;
    return module.release();
}

// Warns when the running interpreter's major.minor is not the one built against.
bool check_runtime_version() {
    char built[16];
    std::snprintf(built, sizeof built, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    const char *running = Py_GetVersion();
    std::size_t length = 0;
    for (bool seen_dot = false; running[length]; ++length) {
        if (running[length] == '.') {
            if (seen_dot)
                break;
            seen_dot = true;
        } else if (running[length] < '0' || running[length] > '9') {
            break;
        }
    }
    if (length == std::strlen(built) && std::strncmp(built, running, length) == 0)
        return true;
    char running_version[16] = {};
    std::memcpy(running_version, running, length < sizeof running_version - 1 ? length : sizeof running_version - 1);
    char message[200];
    std::snprintf(message, sizeof message, "compiletime version %s of module '%.100s' does not match runtime version %s",
                  built, "yol_vovoruze", running_version);
    return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1) == 0;
}

// The builtins taken once, each with the line of the statement that first uses it.
struct CapturedBuiltin {
    const char *name;
    PyObject *CapturedBuiltins::*slot;
    int line;
};
const CapturedBuiltin captured_builtins[] = {
    {"eval", &CapturedBuiltins::eval, 13},
    {"property", &CapturedBuiltins::property, 136},
    {"staticmethod", &CapturedBuiltins::staticmethod, 169},
    {"TypeError", &CapturedBuiltins::TypeError, 55},
    {"super", &CapturedBuiltins::super, 96},
    {"KeyError", &CapturedBuiltins::KeyError, 91},
    {"open", &CapturedBuiltins::open, 293},
};

bool capture_builtins(int &failed_line) {
    for (const CapturedBuiltin &builtin : captured_builtins) {
        failed_line = builtin.line;
        Ref name(PyUnicode_FromString(builtin.name));
        if (!name)
            return false;
        PyObject *value = PyObject_GetAttr(records.builtins_module, name.get());
        if (!value) {
            if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
            }
            return false;
        }
        Py_XSETREF(captured.*builtin.slot, value);
    }
    return true;
}

// Step 3: the process's module, its __builtins__ and its place in sys.modules.
bool record_module(PyObject *module) {
    Py_INCREF(module);
    records.module = module;
    records.module_dict = PyModule_GetDict(module);
    if (!records.module_dict)
        return false;
    yol_watch_dict(records.module_dict);
    PyObject *builtins = PyImport_ImportModule("builtins");
    if (!builtins)
        return false;
    Py_XSETREF(records.builtins_module, builtins);
    if (PyDict_SetItem(module_namespace(), names.dunder_builtins, builtins) < 0)
        return false;
    PyObject *modules = PyImport_GetModuleDict();
    int present = PyDict_Contains(modules, names.module_name);
    return present > 0 || (present == 0 && PyDict_SetItem(modules, names.module_name, module) == 0);
}

int exec_module(PyObject *module) {
    if (records.module) {
        if (records.module == module)
            return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'yol_vovoruze' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    if (!check_runtime_version() || !intern_names() || !ready_function_type()) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ImportError, "init yol_vovoruze");
        return -1;
    }
    int failed_line = 1;
    if (record_module(module) && capture_builtins(failed_line) && run_module_body(module_namespace(), failed_line))
        return 0;
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_ImportError, "init yol_vovoruze");
    static PyObject *init_entry = nullptr;
    if (!init_entry) {
        PendingError raised;
        init_entry = PyUnicode_InternFromString("init yol_vovoruze");
    }
    if (init_entry)
        add_traceback_entry(init_entry, failed_line);
    Py_CLEAR(records.module);
    records.module_dict = nullptr;
    return -1;
}

PyMethodDef no_functions[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(create_module)},
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "yol_vovoruze", nullptr, 0, no_functions, slots, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject *PyInit_yol_vovoruze() {
    return PyModuleDef_Init(&definition);
}
