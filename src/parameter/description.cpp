// Parameter: the description table and the choice of language.
#include "module/protocols.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/standard_names.hpp"
#include "parameter/parameter.hpp"

#include <cstring>

namespace {

PyObject *description_table(PyObject *self) {
    return attribute_of(parameter_table, self, parameter_description_name.get());
}

// The first variable of the environment that names a locale, as the
// standard getdefaultlocale() looks them up ("C" when none does).
Ref environment_locale() {
    Ref os(PyImport_ImportModule("os"));
    Ref environ(os ? PyObject_GetAttrString(os.get(), "environ") : nullptr);
    if (!environ)
        return Ref();
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG", "LANGUAGE"}) {
        Ref value(PyObject_CallMethod(environ.get(), "get", "s", variable));
        const int set = value ? PyObject_IsTrue(value.get()) : -1;
        if (set < 0)
            return Ref();
        if (!set)
            continue;
        if (std::strcmp(variable, "LANGUAGE") != 0)
            return value;
        // LANGUAGE lists languages apart by ":"; the first counts.
        Ref parts(PyObject_CallMethod(value.get(), "split", "s", ":"));
        return parts ? Ref(PySequence_GetItem(parts.get(), 0)) : Ref();
    }
    return Ref(PyUnicode_FromString("C"));
}

// The language that getdefaultlocale() reports, without calling it: the
// environment's locale normalised by the standard locale module and taken
// apart as that function does.
PyObject *language_from_environment() {
    Ref name = environment_locale();
    Ref code(name ? PyObject_CallMethod(standard.locale, "normalize", "O", name.get()) : nullptr);
    if (!code)
        return nullptr;
    Ref parts(PyObject_CallMethod(code.get(), "split", "si", "@", 1));
    if (!parts)
        return nullptr;
    code = Ref(PySequence_GetItem(parts.get(), 0));
    if (!code)
        return nullptr;
    Ref kept_modifier;  // "@" + the modifier, where the language keeps it
    if (PySequence_Size(parts.get()) == 2) {
        Ref modifier(PySequence_GetItem(parts.get(), 1));
        if (!modifier)
            return nullptr;
        if (YOL_LANGUAGE_KEEPS_MODIFIER && !(kept_modifier = Ref(PyUnicode_FromFormat("@%S", modifier.get()))))
            return nullptr;
        const bool euro = PyUnicode_CompareWithASCIIString(modifier.get(), "euro") == 0;
        const int dotted = euro ? PySequence_Contains(code.get(), names.dot) : 0;
        if (dotted < 0)
            return nullptr;
        if (euro && !dotted)
            return kept_modifier ? PyUnicode_Concat(code.get(), kept_modifier.get()) : code.release();
    }
    const int dotted = PySequence_Contains(code.get(), names.dot);
    if (dotted < 0)
        return nullptr;
    if (dotted) {
        Ref split(PyUnicode_Split(code.get(), names.dot, 1));
        Ref language(split ? PySequence_GetItem(split.get(), 0) : nullptr);
        if (!language || !kept_modifier)
            return language.release();
        return PyUnicode_Concat(language.get(), kept_modifier.get());
    }
    if (PyUnicode_CompareWithASCIIString(code.get(), "C") == 0 ||
        PyUnicode_CompareWithASCIIString(code.get(), "UTF-8") == 0)
        Py_RETURN_NONE;
    PyErr_Format(PyExc_ValueError, "unknown locale: %S", name.get());
    return nullptr;
}

// _locale.getdefaultlocale()[0], asked again at every read. The standard
// function, which warns that it is deprecated, is answered for (and so is a
// locale module that no longer has it); a host's replacement is called.
PyObject *system_language() {
    Ref locale(locale_name.lookup());
    if (!locale)
        return nullptr;
    Ref ask(PyObject_GetAttr(locale.get(), names.getdefaultlocale));
    if (!ask) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError) || !standard.locale)
            return nullptr;
        PyErr_Clear();
        return language_from_environment();
    }
    if (answers_for_getdefaultlocale(ask.get()))
        return language_from_environment();
    Ref answer(PyObject_CallNoArgs(ask.get()));
    Ref first(answer ? PyLong_FromLong(0) : nullptr);
    return first ? PyObject_GetItem(answer.get(), first.get()) : nullptr;
}

}  // namespace

PyObject *parameter_description(Call &call) {
    Ref language(system_language());
    if (!language)
        return call.fail(Description::Language);
    Ref table(description_table(call.self()));
    const int known = table ? PySequence_Contains(table.get(), language.get()) : -1;
    if (known < 0)
        return call.fail(Description::Lookup);
    Ref text(get_item(table.get(), known ? language.get() : names.default_));
    if (!text)
        return call.fail(Description::Read);
    if (!call.enforce_str(text.get(), Description::Read))
        return nullptr;
    return text.release();
}

PyObject *parameter_get_description(Call &call) {
    Ref table(description_table(call.self()));
    PyObject *text = table ? get_item(table.get(), call.arg(1)) : nullptr;
    return text ? text : call.fail(Whole::Body);
}

PyObject *parameter_set_description(Call &call) {
    Ref table(description_table(call.self()));
    if (!table || set_item(table.get(), call.arg(2), call.arg(1)) < 0)
        return call.fail(Whole::Body);
    Py_RETURN_NONE;
}

PyObject *parameter_all_descriptions(Call &call) {
    PyObject *table = description_table(call.self());
    return table ? table : call.fail(Whole::Body);
}
