#include "directory/save_plan.hpp"

#include "book/save_steps.hpp"
#include "directory/directory.hpp"
#include "directory/item_names.hpp"
#include "module/protocols.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "module/standard_names.hpp"

namespace {

// A folder that cannot tell the longest name it takes is held to the usual limit.
constexpr Py_ssize_t kUsualNameMax = 255;

// str(name), once, as an exact str: the one text that both the checks and the
// path are made of.
PyObject *render(PyObject *name) {
    Ref text(PyObject_Str(name));
    return text ? PyUnicode_FromObject(text.get()) : nullptr;
}

// The items of `directory`, in table order, with their names rendered.
bool read_items(PyObject *directory, std::vector<NamedItem> &named, std::vector<Ref> &items) {
    Ref directory_class(directory_name.lookup());
    Ref table(directory_class ? read_attribute(directory, directory_parameters_name.get()) : nullptr);
    Ref view(table ? PyObject_CallMethodObjArgs(table.get(), names.items, nullptr) : nullptr);
    Ref iterator(view ? PyObject_GetIter(view.get()) : nullptr);
    if (!iterator)
        return false;
    while (Ref pair{PyIter_Next(iterator.get())}) {
        Ref name, item;
        if (!unpack_pair(pair.get(), name, item))
            return false;
        NamedItem entry;
        entry.name.reset(render(name.get()));
        const int is_directory = entry.name ? PyObject_IsInstance(item.get(), directory_class.get()) : -1;
        if (is_directory < 0)
            return false;
        entry.is_directory = is_directory != 0;
        named.push_back(std::move(entry));
        items.push_back(std::move(item));
    }
    return !PyErr_Occurred();
}

bool plan_folder(const NameRules &rules, PyObject *separator, PyObject *directory, FolderPlan &plan,
                 Py_ssize_t inherited_name_max) {
    RecursionGuard guard;
    if (!guard.entered())
        return false;
    std::vector<NamedItem> named;
    std::vector<Ref> items;
    if (!read_items(directory, named, items))
        return false;
    PyObject *folder = plan.folder.get();
    const Py_ssize_t name_max = longest_entry_name(folder, inherited_name_max);
    FolderNames checks;
    if (name_max < 0 || !checks.gather(rules, directory, folder, std::move(named), name_max))
        return false;
    plan.book_files = Ref::borrow(checks.book_files());
    // Each item is checked, and a sub-directory planned, in table order.
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (!checks.check(i))
            return false;
        const NamedItem &entry = checks.item(i);
        ItemPlan planned;
        planned.item = std::move(items[i]);
        planned.is_directory = entry.is_directory;
        planned.path.reset(entry.is_directory
                               ? PyUnicode_FromFormat("%U%S%U", folder, separator, entry.name.get())
                               : PyUnicode_FromFormat("%U%S%U.%S", folder, separator, entry.name.get(),
                                                      rules.ext.get()));
        if (!planned.path)
            return false;
        if (entry.is_directory) {
            std::unique_ptr<FolderPlan> sub(new FolderPlan);
            sub->folder = Ref::borrow(planned.path.get());
            if (!plan_folder(rules, separator, planned.item.get(), *sub, name_max))
                return false;
            // A class with a save of its own saves its folder itself; its
            // names are checked all the same.
            if (module_member(Py_TYPE(planned.item.get()), names.save, directory_save))
                planned.folder = std::move(sub);
        }
        plan.items.push_back(std::move(planned));
    }
    return true;
}

// Prepares the file of every book that the module saves itself in the
// folders saved from the plan, under the path planned.
bool prepare_book_files(FolderPlan &plan) {
    for (ItemPlan &planned : plan.items) {
        if (planned.is_directory) {
            if (planned.folder && !prepare_book_files(*planned.folder))
                return false;
        } else if (module_writes_book(planned.item.get())) {
            BookSave failed{};
            if (!prepare_book_file(planned.item.get(), planned.path.get(), Py_False, planned.book_file, failed)) {
                fail_as_book_save(planned.item.get(), failed);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool plan_save(PyObject *directory, PyObject *folder, FolderPlan &plan) {
    plan.folder = Ref::borrow(folder);
    if (!PyUnicode_Check(folder))
        return true;  // None: the save reports what the file system makes of it
    NameRules rules;
    if (!read_name_rules(rules))
        return false;
    Ref path(path_name.lookup());
    Ref separator(path ? PyObject_GetAttrString(path.get(), "sep") : nullptr);
    return separator && plan_folder(rules, separator.get(), directory, plan, kUsualNameMax) &&
           prepare_book_files(plan);
}
