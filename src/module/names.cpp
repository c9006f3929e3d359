#include "module/names.hpp"

Names names;

bool intern_names() {
#define YOL_INTERN(member, text)                                      \
    if (!names.member && !(names.member = PyUnicode_InternFromString(text))) \
        return false;
    YOL_NAMES(YOL_INTERN)
#undef YOL_INTERN
    return true;
}
