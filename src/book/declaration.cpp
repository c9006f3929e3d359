// The class ParameterBook as the module declares it: its name and line, its
// members in source order (with their lines, signatures, docstrings and the
// lines of the statements that can fail), its table of parameters and its
// slots.
#include "book/book.hpp"
#include "module/names.hpp"
#include "parameter/parameter.hpp"

GlobalName book_name("ParameterBook");
InternedName book_parameters_name("_ParameterBook__parameters");
PyObject *made_book_class = nullptr;

namespace {

// Is a parameter: an instance of whatever the module names Parameter now.
int is_parameter(PyObject *value) {
    Ref parameter = parameter_name.lookup();
    return parameter ? PyObject_IsInstance(value, parameter.get()) : -1;
}

constexpr MemberSpec members[] = {
    {"ExtName", MemberKind::Constant, 186, "yolpt", nullptr, nullptr, {}},
    {"__init__", MemberKind::Method, 188, "(self, parameters: _Optional[_Dict[str, Parameter]] = None)", nullptr,
     init_body<book_table>,
     {at(Init::NewTable, 189), at(Init::Items, 191), at(Init::NameCheck, 192), at(Init::MemberCheck, 193),
      at(Init::Clone, 194), at(Init::Store, 195)}},
    {"clone", MemberKind::Method, 197, "(self)", "对本参数文件执行深度拷贝\n:return: 本参数文件的深度拷贝对象",
     clone_body<book_table>, {at(Whole::Body, 202)}},
    {"items", MemberKind::Method, 204, "(self)", nullptr, items_body<book_table>, {at(Whole::Body, 205)}},
    {"names", MemberKind::Method, 207, "(self)",
     "获取本参数文件下所有参数的名称\n:return: 本参数文件内所有参数名称的迭代器", names_body<book_table>,
     {at(Whole::Body, 212)}},
    {"clear", MemberKind::Method, 214, "(self)", "清除本参数文件内所有的参数\n:return None", clear_body<book_table>,
     {at(Whole::Body, 219)}},
    {"__getattr__", MemberKind::Method, 221, "(self, item)", nullptr, getattr_body<book_table>,
     {at(Whole::Body, 222)}, getattr_quick<book_table>},
    {"__setattr__", MemberKind::Method, 224, "(self, key, value)", nullptr, setattr_body<book_table>,
     {at(SetAttribute::Prefix, 225), at(SetAttribute::Compare, 226), at(SetAttribute::HandOver, 227),
      at(SetAttribute::ValueCheck, 229), at(SetAttribute::Store, 230)}},
    {"__delattr__", MemberKind::Method, 232, "(self, item)", nullptr, delattr_body<book_table>,
     {at(DeleteAttribute::Prefix, 233), at(DeleteAttribute::Compare, 234), at(DeleteAttribute::HandOver, 235),
      at(DeleteAttribute::Remove, 237)}},
    {"__getitem__", MemberKind::Method, 239, "(self, item)", nullptr, getitem_body<book_table>,
     {at(Whole::Body, 240)}},
    {"__setitem__", MemberKind::Method, 242, "(self, key, value)", nullptr, setitem_body<book_table>,
     {at(SetItem::KeyCheck, 243), at(SetItem::ValueCheck, 244), at(SetItem::Store, 245)}},
    {"__delitem__", MemberKind::Method, 247, "(self, key)", nullptr, delitem_body<book_table>,
     {at(Whole::Body, 248)}},
    {"rename", MemberKind::Method, 250, "(self, old: 'str', new: 'str')",
     "对此参数文件内的参数执行重命名操作。\n:param old: 参数原名称\n:param new: 参数的新名称\n:return: None",
     rename_body<book_table>,
     {at(Rename::Equal, 257), at(Rename::OldTest, 259), at(Rename::OldError, 260), at(Rename::NewTest, 261),
      at(Rename::NewError, 262), at(Rename::NewCheck, 263), at(Rename::Read, 265), at(Rename::Remove, 266),
      at(Rename::Store, 267)}},
    {"__str__", MemberKind::Method, 269, "(self)", nullptr, book_str,
     {at(BookText::NewList, 270), at(BookText::Names, 271), at(BookText::Sort, 272), at(BookText::Read, 274),
      at(BookText::ToDict, 275), at(BookText::Dumps, 276)}},
    {"save", MemberKind::Method, 278, "(self, filename: 'str', auto_append_extend_name: bool = True)",
     "将参数文件内容保存到指定的文件中\n"
     ":param filename: 保存的目标文件路径、名称\n"
     ":param auto_append_extend_name: 是否自动添加文件控制名。默认行为是自动添加\n"
     ":return: None",
     book_save,
     {at(BookSave::FolderPart, 285), at(BookSave::FolderTest, 286), at(BookSave::MakeFolder, 287),
      at(BookSave::FolderCheck, 289), at(BookSave::Text, 290), at(BookSave::ExtensionTest, 291),
      at(BookSave::NewName, 292), at(BookSave::Open, 293), at(BookSave::Write, 294)}},
    {"load", MemberKind::StaticMethod, 297, "(filename: 'str')",
     "从指定的文件加载参数文件对象\n:param filename: 指定的源文件路径名称\n:return: 一个参数文件对象",
     book_load,
     {at(BookLoad::FileCheck, 303), at(BookLoad::Open, 305), at(BookLoad::Read, 306), at(BookLoad::Decode, 307),
      at(BookLoad::ListCheck, 308), at(BookLoad::NewDict, 309), at(BookLoad::Iteration, 310),
      at(BookLoad::ElementCheck, 311), at(BookLoad::FromDict, 312), at(BookLoad::Store, 313),
      at(BookLoad::NewBook, 314)}},
};

static_assert(statement_lines_in_place(members, 317), "the statement lines of ParameterBook are out of place");

constexpr RoutedName own_table_name[] = {{&book_parameters_name, &names.parameters}};

constexpr TableClass declaration() {
    TableClass book = table_class<book_table>();
    book.name = &book_name;
    book.line = 185;
    book.members = members;
    book.made = &made_book_class;
    book.table_name = &book_parameters_name;
    book.assigned_past = {own_table_name};
    book.deleted_past = {own_table_name};
    book.accepts = is_parameter;
    book.init_body = init_body<book_table>;
    return book;
}

}  // namespace

constexpr TableClass book_table = declaration();
