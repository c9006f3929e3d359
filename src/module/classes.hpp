// The members that the module body binds: the module-level function and the
// three classes, each declared next to its own code.
#pragma once
#include "module/member.hpp"

extern const MemberSpec clone_attribute_member;
extern const ClassSpec parameter_class;
extern const ClassSpec book_class;
extern const ClassSpec directory_class;
