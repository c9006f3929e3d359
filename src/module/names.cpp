#include "module/names.hpp"

Names names;
InternedName *InternedName::first_ = nullptr;

bool intern_names() {
#define YOL_INTERN(member, text)                                      \
    if (!names.member && !(names.member = PyUnicode_InternFromString(text))) \
        return false;
    YOL_NAMES(YOL_INTERN)
#undef YOL_INTERN
    for (InternedName *name = InternedName::first_; name; name = name->next_)
        if (!name->object_ && !(name->object_ = PyUnicode_InternFromString(name->text_)))
            return false;
    return true;
}
