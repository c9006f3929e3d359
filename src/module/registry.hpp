// The module-level members that the module body binds after its constants,
// in source order: functions and classes, each declared in its own folder.
// The list is kept outside the module layer, which knows no class
// (src/registry.cpp).
#pragma once
#include "module/member.hpp"
#include "module/rows.hpp"

struct ModuleMember {
    constexpr ModuleMember(const MemberSpec &function_row) : function(&function_row) {}
    constexpr ModuleMember(const ClassSpec &class_spec) : cls(&class_spec) {}

    const MemberSpec *function = nullptr;  // a function, bound as it is made
    const ClassSpec *cls = nullptr;        // or a class, built from its members
};

extern const Rows<ModuleMember> module_members;
