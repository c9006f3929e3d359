// The class ParameterBook: its members in source order, with their lines,
// signatures and docstrings.
#include "module/classes.hpp"
#include "module/placeholder.hpp"

namespace {

const MemberSpec members[] = {
    {"ExtName", MemberKind::Constant, 186, "yolpt", nullptr, nullptr},
    {"__init__", MemberKind::Method, 188, "(self, parameters: _Optional[_Dict[str, Parameter]] = None)", nullptr,
     not_built_yet},
    {"clone", MemberKind::Method, 197, "(self)", "对本参数文件执行深度拷贝\n:return: 本参数文件的深度拷贝对象",
     not_built_yet},
    {"items", MemberKind::Method, 204, "(self)", nullptr, not_built_yet},
    {"names", MemberKind::Method, 207, "(self)",
     "获取本参数文件下所有参数的名称\n:return: 本参数文件内所有参数名称的迭代器", not_built_yet},
    {"clear", MemberKind::Method, 214, "(self)", "清除本参数文件内所有的参数\n:return None", not_built_yet},
    {"__getattr__", MemberKind::Method, 221, "(self, item)", nullptr, not_built_yet},
    {"__setattr__", MemberKind::Method, 224, "(self, key, value)", nullptr, not_built_yet},
    {"__delattr__", MemberKind::Method, 232, "(self, item)", nullptr, not_built_yet},
    {"__getitem__", MemberKind::Method, 239, "(self, item)", nullptr, not_built_yet},
    {"__setitem__", MemberKind::Method, 242, "(self, key, value)", nullptr, not_built_yet},
    {"__delitem__", MemberKind::Method, 247, "(self, key)", nullptr, not_built_yet},
    {"rename", MemberKind::Method, 250, "(self, old: 'str', new: 'str')",
     "对此参数文件内的参数执行重命名操作。\n:param old: 参数原名称\n:param new: 参数的新名称\n:return: None",
     not_built_yet},
    {"__str__", MemberKind::Method, 269, "(self)", nullptr, not_built_yet},
    {"save", MemberKind::Method, 278, "(self, filename: 'str', auto_append_extend_name: bool = True)",
     "将参数文件内容保存到指定的文件中\n"
     ":param filename: 保存的目标文件路径、名称\n"
     ":param auto_append_extend_name: 是否自动添加文件控制名。默认行为是自动添加\n"
     ":return: None",
     not_built_yet},
    {"load", MemberKind::StaticMethod, 297, "(filename: 'str')",
     "从指定的文件加载参数文件对象\n:param filename: 指定的源文件路径名称\n:return: 一个参数文件对象",
     not_built_yet},
};

}  // namespace

const ClassSpec book_class = class_spec("ParameterBook", 185, members, &made_book_class, nullptr);
