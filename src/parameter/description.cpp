// Parameter: the description table and the choice of language.
#include "module/calls.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/table.hpp"
#include "parameter/parameter.hpp"

namespace {

GlobalName locale_name(names.locale);

PyObject *description_table(PyObject *self) { return read_attribute(self, names.parameter_description); }

// _locale.getdefaultlocale()[0], asked again at every read.
PyObject *system_language() {
    Ref locale(locale_name.lookup());
    Ref ask(locale ? PyObject_GetAttr(locale.get(), names.getdefaultlocale) : nullptr);
    Ref answer(ask ? call_none(ask.get()) : nullptr);
    Ref first(answer ? PyLong_FromLong(0) : nullptr);
    return first ? PyObject_GetItem(answer.get(), first.get()) : nullptr;
}

}  // namespace

PyObject *parameter_description(Call &call) {
    Ref language(system_language());
    if (!language)
        return call.fail(142);
    Ref table(description_table(call.self()));
    const int known = table ? PySequence_Contains(table.get(), language.get()) : -1;
    if (known < 0)
        return call.fail(143);
    Ref text(get_item(table.get(), known ? language.get() : names.default_));
    if (!text)
        return call.fail(145);
    if (!call.holds_str(text.get(), 145))
        return nullptr;
    return text.release();
}

PyObject *parameter_get_description(Call &call) {
    Ref table(description_table(call.self()));
    PyObject *text = table ? get_item(table.get(), call.arg(1)) : nullptr;
    return text ? text : call.fail(153);
}

PyObject *parameter_set_description(Call &call) {
    Ref table(description_table(call.self()));
    if (!table || set_item(table.get(), call.arg(2), call.arg(1)) < 0)
        return call.fail(156);
    Py_RETURN_NONE;
}

PyObject *parameter_all_descriptions(Call &call) {
    PyObject *table = description_table(call.self());
    return table ? table : call.fail(159);
}
