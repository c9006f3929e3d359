// The class Parameter as the module declares it: its name and line, its
// members in source order (with their lines, signatures, docstrings and the
// lines of the statements that can fail), its tables and its slots.
#include "module/names.hpp"
#include "parameter/parameter.hpp"

GlobalName parameter_name("Parameter");
InternedName parameter_attributes_name("_Parameter__attributes");
InternedName parameter_description_name("_Parameter__description");
PyObject *made_parameter_class = nullptr;

namespace {

constexpr MemberSpec members[] = {
    {"__init__", MemberKind::Method, 46, "(self, description: _Union[str, dict] = '', **kwargs)", nullptr,
     parameter_init,
     {at(ParameterInit::DescriptionCheck, 47), at(ParameterInit::StrTable, 49), at(ParameterInit::DictSize, 51),
      at(ParameterInit::DefaultCheck, 52), at(ParameterInit::DictTable, 53), at(ParameterInit::Raise, 55),
      at(ParameterInit::AttributeTable, 56), at(ParameterInit::NameCheck, 58), at(ParameterInit::Clone, 59)}},
    {"clone", MemberKind::Method, 62, "(self)", "对本参数执行一次深拷贝。\n:return: 本参数对象的一个深拷贝",
     parameter_clone, {at(Whole::Body, 67)}},
    {"items", MemberKind::Method, 69, "(self)",
     "获取本参数的所有属性的键值对迭代器\n:return: 所有属性的键值对的迭代器", items_body<parameter_table>,
     {at(Whole::Body, 74)}},
    {"names", MemberKind::Method, 76, "(self)", "获取本参数的所有属性的名称的迭代器\n:return: 所有属性名称的迭代器",
     names_body<parameter_table>, {at(Whole::Body, 81)}},
    {"clear", MemberKind::Method, 83, "(self)", "清除本参数对象的所有属性\n:return: None", clear_body<parameter_table>,
     {at(Whole::Body, 88)}},
    {"__getattr__", MemberKind::Method, 90, "(self, item)", nullptr, getattr_body<parameter_table>,
     {at(Whole::Body, 91)}, getattr_quick<parameter_table>},
    {"__setattr__", MemberKind::Method, 93, "(self, key, value)", nullptr, setattr_body<parameter_table>,
     {at(SetAttribute::Prefix, 94), at(SetAttribute::Compare, 95), at(SetAttribute::HandOver, 96),
      at(SetAttribute::Store, 98)}},
    {"__delattr__", MemberKind::Method, 100, "(self, item)", nullptr, delattr_body<parameter_table>,
     {at(DeleteAttribute::Prefix, 101), at(DeleteAttribute::Compare, 102), at(DeleteAttribute::HandOver, 103),
      at(DeleteAttribute::Remove, 105)}},
    {"get", MemberKind::Method, 107, "(self, name: 'str', default=None, raise_if_none: bool = False)",
     "获取本参数对象的某个属性的值，带有可选的默认值参数，以及可配置的遇空抛出异常选项\n"
     ":param name: 想要获取的属性的名称\n"
     ":param default: 在属性名不存在情况下返回的默认值。默认值的默认值是 None\n"
     ":param raise_if_none: 在属性不存在，默认值为 None 的情况下，是否抛出异常？\n"
     ":return: 属性的值",
     parameter_get, {at(Get::Lookup, 115), at(Get::Read, 116), at(Get::Truth, 121), at(Get::Raise, 122)},
     parameter_get_quick},
    {"__getitem__", MemberKind::Method, 126, "(self, item)", nullptr, getitem_body<parameter_table>,
     {at(Whole::Body, 127)}},
    {"__setitem__", MemberKind::Method, 129, "(self, key, value)", nullptr, setitem_body<parameter_table>,
     {at(SetItem::KeyCheck, 130), at(SetItem::Store, 131)}},
    {"__delitem__", MemberKind::Method, 133, "(self, key)", nullptr, delitem_body<parameter_table>,
     {at(Whole::Body, 134)}},
    {"description", MemberKind::Property, 137, "(self) -> 'str'",
     "根据当前语言设定，返回此参数的描述说明\n:return: 一个 str 对象，参数的描述说明", parameter_description,
     {at(Description::Language, 142), at(Description::Lookup, 143), at(Description::Read, 145)}},
    {"get_description", MemberKind::Method, 147, "(self, local: 'str' = 'default')",
     "根据指定的语言设定，返回此参数的描述说明\n:param local: 语言设定参数\n:return: 一个 str 对象，参数的描述说明",
     parameter_get_description, {at(Whole::Body, 153)}},
    {"set_description", MemberKind::Method, 155, "(self, description: 'str', local: 'str' = 'default')", nullptr,
     parameter_set_description, {at(Whole::Body, 156)}},
    {"all_descriptions", MemberKind::Method, 158, "(self)", nullptr, parameter_all_descriptions,
     {at(Whole::Body, 159)}},
    {"to_dict", MemberKind::Method, 161, "(self, name: 'str') -> 'dict'",
     "将本参数对象转化为一个 dict 对象\n:param name: 该参数对象的名称\n:return: 转化后的 dict 对象", parameter_to_dict,
     {at(Whole::Body, 167)}},
    {"from_dict", MemberKind::StaticMethod, 170, "(data: 'dict')", nullptr, parameter_from_dict,
     {at(FromDict::NameKey, 171), at(FromDict::DescriptionKey, 172), at(FromDict::AttributesKey, 173),
      at(FromDict::NameRead, 174), at(FromDict::DescriptionRead, 175), at(FromDict::AttributesRead, 176),
      at(FromDict::NameCheck, 177), at(FromDict::DescriptionCheck, 178), at(FromDict::AttributesCheck, 179),
      at(FromDict::DefaultCheck, 180), at(FromDict::Construct, 182)}},
};

static_assert(statement_lines_in_place(members, 185), "the statement lines of Parameter are out of place");

// The private names that __setattr__ hands to the base class; __delattr__
// hands on only the second.
constexpr RoutedName description_table_name[] = {{&parameter_description_name, &names.description}};
constexpr RoutedName both_table_names[] = {{&parameter_attributes_name, &names.attributes},
                                           description_table_name[0]};

constexpr TableClass declaration() {
    TableClass parameter = table_class<parameter_table>();
    parameter.name = &parameter_name;
    parameter.line = 45;
    parameter.members = members;
    parameter.made = &made_parameter_class;
    parameter.table_name = &parameter_attributes_name;
    parameter.assigned_past = {both_table_names, &names.description};
    parameter.deleted_past = {description_table_name, &names.description};
    parameter.init_body = parameter_init;  // `accepts` stays empty: any value is stored as it is given
    return parameter;
}

}  // namespace

constexpr TableClass parameter_table = declaration();
