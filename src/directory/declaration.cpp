// The class ParameterDirectory as the module declares it: its name and
// line, its members in source order (with their lines, signatures,
// docstrings and the lines of the statements that can fail), its table of
// books and directories and its slots.
#include "book/book.hpp"
#include "directory/directory.hpp"
#include "module/names.hpp"

GlobalName directory_name("ParameterDirectory");
InternedName directory_parameters_name("_ParameterDirectory__parameters");
PyObject *made_directory_class = nullptr;

namespace {

// Is an item: an instance of whatever the module names ParameterDirectory or
// ParameterBook now, tested in that order.
int is_item(PyObject *value) {
    for (GlobalName *kind : {&directory_name, &book_name}) {
        Ref cls = kind->lookup();
        const int is_instance = cls ? PyObject_IsInstance(value, cls.get()) : -1;
        if (is_instance != 0)
            return is_instance;
    }
    return 0;
}

constexpr MemberSpec members[] = {
    {"__init__", MemberKind::Method, 318, "(self, parameters: _Optional[dict] = None)", nullptr,
     init_body<directory_table>,
     {at(Init::NewTable, 319), at(Init::Items, 321), at(Init::NameCheck, 322), at(Init::MemberCheck, 323),
      at(Init::Clone, 324), at(Init::Store, 325)}},
    {"clone", MemberKind::Method, 327, "(self)",
     "对此参数目录对象执行深度拷贝操作。\n:return: 深度拷贝出来的参数目录对象", clone_body<directory_table>,
     {at(Whole::Body, 332)}},
    {"items", MemberKind::Method, 334, "(self)", nullptr, items_body<directory_table>, {at(Whole::Body, 335)}},
    {"names", MemberKind::Method, 337, "(self)", nullptr, names_body<directory_table>, {at(Whole::Body, 338)}},
    {"__getattr__", MemberKind::Method, 340, "(self, item)", nullptr, getattr_body<directory_table>,
     {at(Whole::Body, 341)}, getattr_quick<directory_table>},
    {"__setattr__", MemberKind::Method, 343, "(self, key, value)", nullptr, setattr_body<directory_table>,
     {at(SetAttribute::Prefix, 344), at(SetAttribute::Compare, 345), at(SetAttribute::HandOver, 346),
      at(SetAttribute::ValueCheck, 348), at(SetAttribute::Store, 349)}},
    {"__delattr__", MemberKind::Method, 351, "(self, item)", nullptr, delattr_body<directory_table>,
     {at(DeleteAttribute::Prefix, 352), at(DeleteAttribute::Compare, 353), at(DeleteAttribute::HandOver, 354),
      at(DeleteAttribute::Remove, 356)}},
    {"__delitem__", MemberKind::Method, 358, "(self, key)", nullptr, delitem_body<directory_table>,
     {at(Whole::Body, 359)}},
    {"__getitem__", MemberKind::Method, 361, "(self, item)", nullptr, getitem_body<directory_table>,
     {at(Whole::Body, 362)}},
    {"__setitem__", MemberKind::Method, 364, "(self, key, value)", nullptr, setitem_body<directory_table>,
     {at(SetItem::KeyCheck, 365), at(SetItem::ValueCheck, 366), at(SetItem::Store, 367)}},
    {"clear", MemberKind::Method, 369, "(self)", "删除该参数目录下的所有子项目。\n:return: None",
     clear_body<directory_table>, {at(Whole::Body, 374)}},
    {"rename", MemberKind::Method, 376, "(self, old: 'str', new: 'str')",
     "对此参数目录下的项目执行重命名操作。\n"
     "注意：只能对本目录下的直接子项目进行操作，不能对子目录下的子项目执行操作。\n"
     ":param old: 子项目原名称\n"
     ":param new: 子项目的新名称\n"
     ":return: None",
     rename_body<directory_table>,
     {at(Rename::Equal, 384), at(Rename::OldTest, 386), at(Rename::OldError, 387), at(Rename::NewTest, 388),
      at(Rename::NewError, 389), at(Rename::NewCheck, 390), at(Rename::Read, 391), at(Rename::Remove, 392),
      at(Rename::Store, 393)}},
    {"_backup_books_in_this_directory", MemberKind::StaticMethod, 397, "(directory: 'str') -> _List[str]", nullptr,
     directory_backup_books,
     {at(BackupStep::NewList, 398), at(BackupStep::Listing, 399), at(BackupStep::Iteration, 400),
      at(BackupStep::Match, 401), at(BackupStep::BookPath, 402), at(BackupStep::BackupPath, 403),
      at(BackupStep::Tests, 404), at(BackupStep::Rename, 405), at(BackupStep::Append, 406)}},
    {"save", MemberKind::Method, 410, "(self, directory: 'str')",
     "将此 ParameterDirectory 对象递归保存的参数指定的目录里面。\n"
     ":param directory: 要保存到的目标文件夹路径\n"
     ":return: None",
     directory_save,
     {at(DirectorySave::Plan, 416), at(DirectorySave::MakeFolder, 417), at(DirectorySave::NoBackups, 418),
      at(DirectorySave::FolderCheck, 420), at(DirectorySave::Backup, 421), at(DirectorySave::SubDirectory, 425),
      at(DirectorySave::Book, 427), at(DirectorySave::BackupIteration, 428), at(DirectorySave::BackupRemoval, 429)}},
    {"load", MemberKind::StaticMethod, 433, "(directory: 'str')",
     "递归加载整个文件夹的配置文件\n:param directory: 要加载的文件夹的路径名称\n:return: 一个 ParameterDirectory 对象",
     directory_load,
     {at(DirectoryLoad::Listing, 439), at(DirectoryLoad::NewDirectory, 440), at(DirectoryLoad::Entries, 441),
      at(DirectoryLoad::EntryPath, 442), at(DirectoryLoad::FolderTest, 443), at(DirectoryLoad::SubFolder, 444),
      at(DirectoryLoad::FileTest, 445), at(DirectoryLoad::Book, 446)}},
};

static_assert(statement_lines_in_place(members, 448), "the statement lines of ParameterDirectory are out of place");

constexpr RoutedName own_table_name[] = {{&directory_parameters_name, &names.parameters}};

constexpr TableClass declaration() {
    TableClass directory = table_class<directory_table>();
    directory.name = &directory_name;
    directory.line = 317;
    directory.members = members;
    directory.made = &made_directory_class;
    directory.table_name = &directory_parameters_name;
    directory.assigned_past = {own_table_name};
    directory.deleted_past = {own_table_name};
    directory.accepts = is_item;
    directory.init_body = init_body<directory_table>;
    directory.rename_through_items = true;
    return directory;
}

}  // namespace

constexpr TableClass directory_table = declaration();
