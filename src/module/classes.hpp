// The members that the module body binds: the module-level function and the
// three classes, each declared next to its own code.
#pragma once
#include "module/member.hpp"

extern const MemberSpec clone_attribute_member;

// The classes as the module made them, whatever the namespace names later.
extern PyObject *made_parameter_class;
extern PyObject *made_book_class;
extern PyObject *made_directory_class;

extern const ClassSpec parameter_class;
extern const ClassSpec book_class;
extern const ClassSpec directory_class;
