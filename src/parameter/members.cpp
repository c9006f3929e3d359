// The class Parameter: its members in source order, with their lines,
// signatures and docstrings.
#include "module/classes.hpp"
#include "module/table.hpp"
#include "parameter/parameter.hpp"

namespace {

const MemberSpec members[] = {
    {"__init__", MemberKind::Method, 46, "(self, description: _Union[str, dict] = '', **kwargs)", nullptr,
     parameter_init},
    {"clone", MemberKind::Method, 62, "(self)", "对本参数执行一次深拷贝。\n:return: 本参数对象的一个深拷贝",
     parameter_clone},
    {"items", MemberKind::Method, 69, "(self)",
     "获取本参数的所有属性的键值对迭代器\n:return: 所有属性的键值对的迭代器", parameter_items},
    {"names", MemberKind::Method, 76, "(self)", "获取本参数的所有属性的名称的迭代器\n:return: 所有属性名称的迭代器",
     parameter_names},
    {"clear", MemberKind::Method, 83, "(self)", "清除本参数对象的所有属性\n:return: None", parameter_clear},
    {"__getattr__", MemberKind::Method, 90, "(self, item)", nullptr, parameter_getattr},
    {"__setattr__", MemberKind::Method, 93, "(self, key, value)", nullptr, parameter_setattr},
    {"__delattr__", MemberKind::Method, 100, "(self, item)", nullptr, parameter_delattr},
    {"get", MemberKind::Method, 107, "(self, name: 'str', default=None, raise_if_none: bool = False)",
     "获取本参数对象的某个属性的值，带有可选的默认值参数，以及可配置的遇空抛出异常选项\n"
     ":param name: 想要获取的属性的名称\n"
     ":param default: 在属性名不存在情况下返回的默认值。默认值的默认值是 None\n"
     ":param raise_if_none: 在属性不存在，默认值为 None 的情况下，是否抛出异常？\n"
     ":return: 属性的值",
     parameter_get},
    {"__getitem__", MemberKind::Method, 126, "(self, item)", nullptr, parameter_getitem},
    {"__setitem__", MemberKind::Method, 129, "(self, key, value)", nullptr, parameter_setitem},
    {"__delitem__", MemberKind::Method, 133, "(self, key)", nullptr, parameter_delitem},
    {"description", MemberKind::Property, 137, "(self) -> 'str'",
     "根据当前语言设定，返回此参数的描述说明\n:return: 一个 str 对象，参数的描述说明", parameter_description},
    {"get_description", MemberKind::Method, 147, "(self, local: 'str' = 'default')",
     "根据指定的语言设定，返回此参数的描述说明\n:param local: 语言设定参数\n:return: 一个 str 对象，参数的描述说明",
     parameter_get_description},
    {"set_description", MemberKind::Method, 155, "(self, description: 'str', local: 'str' = 'default')", nullptr,
     parameter_set_description},
    {"all_descriptions", MemberKind::Method, 158, "(self)", nullptr, parameter_all_descriptions},
    {"to_dict", MemberKind::Method, 161, "(self, name: 'str') -> 'dict'",
     "将本参数对象转化为一个 dict 对象\n:param name: 该参数对象的名称\n:return: 转化后的 dict 对象", parameter_to_dict},
    {"from_dict", MemberKind::StaticMethod, 170, "(data: 'dict')", nullptr, parameter_from_dict},
};

}  // namespace

const ClassSpec parameter_class = class_spec("Parameter", 45, members, &made_parameter_class,
                                            getattro_with_fallback<parameter_getattr>);
