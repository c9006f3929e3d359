// The module-level members that the module body binds after its constants,
// in source order. The module layer knows no class and no class knows where
// the others stand, so the order is kept here, apart from both.
#include "book/book.hpp"
#include "directory/directory.hpp"
#include "module/registry.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"

namespace {

const ModuleMember in_source_order[] = {
    clone_attribute_member,
    parameter_table,
    book_table,
    directory_table,
};

}  // namespace

const Rows<ModuleMember> module_members = in_source_order;
