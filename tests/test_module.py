"""The module frame: namespace, classes, members, argument conventions and import behaviour."""
import builtins
import gc
import importlib
import inspect
import json
import locale
import os
import pickle
import pydoc
import re
import sys
import textwrap
import traceback
import types
import typing
import weakref

import pytest

import yol_vovoruze as yv
from support import child_result, run_python

P, B, D = yv.Parameter, yv.ParameterBook, yv.ParameterDirectory
CLASSES = {"Parameter": P, "ParameterBook": B, "ParameterDirectory": D}
SOURCE_FILE = "vovoruze.py"

FUNCTION, METHOD, STATIC, PROPERTY = "function", "method", "staticmethod", "property"


def _doc(*lines):
    return "\n\t\t" + "\n\t\t".join(lines) + "\n\t\t"


# Every function of the module: (class name or None, member, kind, line of the def,
# signature as inspect shows it, __defaults__, __annotations__ in order,
# parameters whose type is checked, __doc__).
MEMBERS = [
    (None, "_clone_attribute", FUNCTION, 24, "(attr)", None, [], (), None),
    ("Parameter", "__init__", METHOD, 46, "(self, description: Union[str, dict] = '', **kwargs)", ("",),
     [("description", typing.Union[str, dict])], (), None),
    ("Parameter", "clone", METHOD, 62, "(self)", None, [], (),
     _doc("对本参数执行一次深拷贝。", ":return: 本参数对象的一个深拷贝")),
    ("Parameter", "items", METHOD, 69, "(self)", None, [], (),
     _doc("获取本参数的所有属性的键值对迭代器", ":return: 所有属性的键值对的迭代器")),
    ("Parameter", "names", METHOD, 76, "(self)", None, [], (),
     _doc("获取本参数的所有属性的名称的迭代器", ":return: 所有属性名称的迭代器")),
    ("Parameter", "clear", METHOD, 83, "(self)", None, [], (), _doc("清除本参数对象的所有属性", ":return: None")),
    ("Parameter", "__getattr__", METHOD, 90, "(self, item)", None, [], (), None),
    ("Parameter", "__setattr__", METHOD, 93, "(self, key, value)", None, [], (), None),
    ("Parameter", "__delattr__", METHOD, 100, "(self, item)", None, [], (), None),
    ("Parameter", "get", METHOD, 107, "(self, name: 'str', default=None, raise_if_none: bool = False)",
     (None, False), [("name", "str"), ("raise_if_none", bool)], ("name",),
     _doc("获取本参数对象的某个属性的值，带有可选的默认值参数，以及可配置的遇空抛出异常选项",
          ":param name: 想要获取的属性的名称",
          ":param default: 在属性名不存在情况下返回的默认值。默认值的默认值是 None",
          ":param raise_if_none: 在属性不存在，默认值为 None 的情况下，是否抛出异常？",
          ":return: 属性的值")),
    ("Parameter", "__getitem__", METHOD, 126, "(self, item)", None, [], (), None),
    ("Parameter", "__setitem__", METHOD, 129, "(self, key, value)", None, [], (), None),
    ("Parameter", "__delitem__", METHOD, 133, "(self, key)", None, [], (), None),
    ("Parameter", "description", PROPERTY, 137, "(self) -> 'str'", None, [("return", "str")], (),
     _doc("根据当前语言设定，返回此参数的描述说明", ":return: 一个 str 对象，参数的描述说明")),
    ("Parameter", "get_description", METHOD, 147, "(self, local: 'str' = 'default')", ("default",),
     [("local", "str")], ("local",),
     _doc("根据指定的语言设定，返回此参数的描述说明", ":param local: 语言设定参数",
          ":return: 一个 str 对象，参数的描述说明")),
    ("Parameter", "set_description", METHOD, 155, "(self, description: 'str', local: 'str' = 'default')",
     ("default",), [("description", "str"), ("local", "str")], ("description", "local"), None),
    ("Parameter", "all_descriptions", METHOD, 158, "(self)", None, [], (), None),
    ("Parameter", "to_dict", METHOD, 161, "(self, name: 'str') -> 'dict'", None,
     [("name", "str"), ("return", "dict")], ("name",),
     _doc("将本参数对象转化为一个 dict 对象", ":param name: 该参数对象的名称", ":return: 转化后的 dict 对象")),
    ("Parameter", "from_dict", STATIC, 170, "(data: 'dict')", None, [("data", "dict")], ("data",), None),
    ("ParameterBook", "__init__", METHOD, 188,
     "(self, parameters: Optional[Dict[str, yol_vovoruze.Parameter]] = None)", (None,),
     [("parameters", typing.Optional[typing.Dict[str, P]])], (), None),
    ("ParameterBook", "clone", METHOD, 197, "(self)", None, [], (),
     _doc("对本参数文件执行深度拷贝", ":return: 本参数文件的深度拷贝对象")),
    ("ParameterBook", "items", METHOD, 204, "(self)", None, [], (), None),
    ("ParameterBook", "names", METHOD, 207, "(self)", None, [], (),
     _doc("获取本参数文件下所有参数的名称", ":return: 本参数文件内所有参数名称的迭代器")),
    ("ParameterBook", "clear", METHOD, 214, "(self)", None, [], (),
     _doc("清除本参数文件内所有的参数", ":return None")),
    ("ParameterBook", "__getattr__", METHOD, 221, "(self, item)", None, [], (), None),
    ("ParameterBook", "__setattr__", METHOD, 224, "(self, key, value)", None, [], (), None),
    ("ParameterBook", "__delattr__", METHOD, 232, "(self, item)", None, [], (), None),
    ("ParameterBook", "__getitem__", METHOD, 239, "(self, item)", None, [], (), None),
    ("ParameterBook", "__setitem__", METHOD, 242, "(self, key, value)", None, [], (), None),
    ("ParameterBook", "__delitem__", METHOD, 247, "(self, key)", None, [], (), None),
    ("ParameterBook", "rename", METHOD, 250, "(self, old: 'str', new: 'str')", None,
     [("old", "str"), ("new", "str")], ("old", "new"),
     _doc("对此参数文件内的参数执行重命名操作。", ":param old: 参数原名称", ":param new: 参数的新名称",
          ":return: None")),
    ("ParameterBook", "__str__", METHOD, 269, "(self)", None, [], (), None),
    ("ParameterBook", "save", METHOD, 278, "(self, filename: 'str', auto_append_extend_name: bool = True)",
     (True,), [("filename", "str"), ("auto_append_extend_name", bool)], ("filename",),
     _doc("将参数文件内容保存到指定的文件中", ":param filename: 保存的目标文件路径、名称",
          ":param auto_append_extend_name: 是否自动添加文件控制名。默认行为是自动添加", ":return: None")),
    ("ParameterBook", "load", STATIC, 297, "(filename: 'str')", None, [("filename", "str")], ("filename",),
     _doc("从指定的文件加载参数文件对象", ":param filename: 指定的源文件路径名称", ":return: 一个参数文件对象")),
    ("ParameterDirectory", "__init__", METHOD, 318, "(self, parameters: Optional[dict] = None)", (None,),
     [("parameters", typing.Optional[dict])], (), None),
    ("ParameterDirectory", "clone", METHOD, 327, "(self)", None, [], (),
     _doc("对此参数目录对象执行深度拷贝操作。", ":return: 深度拷贝出来的参数目录对象")),
    ("ParameterDirectory", "items", METHOD, 334, "(self)", None, [], (), None),
    ("ParameterDirectory", "names", METHOD, 337, "(self)", None, [], (), None),
    ("ParameterDirectory", "__getattr__", METHOD, 340, "(self, item)", None, [], (), None),
    ("ParameterDirectory", "__setattr__", METHOD, 343, "(self, key, value)", None, [], (), None),
    ("ParameterDirectory", "__delattr__", METHOD, 351, "(self, item)", None, [], (), None),
    ("ParameterDirectory", "__delitem__", METHOD, 358, "(self, key)", None, [], (), None),
    ("ParameterDirectory", "__getitem__", METHOD, 361, "(self, item)", None, [], (), None),
    ("ParameterDirectory", "__setitem__", METHOD, 364, "(self, key, value)", None, [], (), None),
    ("ParameterDirectory", "clear", METHOD, 369, "(self)", None, [], (),
     _doc("删除该参数目录下的所有子项目。", ":return: None")),
    ("ParameterDirectory", "rename", METHOD, 376, "(self, old: 'str', new: 'str')", None,
     [("old", "str"), ("new", "str")], ("old", "new"),
     _doc("对此参数目录下的项目执行重命名操作。", "注意：只能对本目录下的直接子项目进行操作，不能对子目录下的子项目执行操作。",
          ":param old: 子项目原名称", ":param new: 子项目的新名称", ":return: None")),
    ("ParameterDirectory", "_backup_books_in_this_directory", STATIC, 397, "(directory: 'str') -> List[str]", None,
     [("directory", "str"), ("return", typing.List[str])], ("directory",), None),
    ("ParameterDirectory", "save", METHOD, 410, "(self, directory: 'str')", None, [("directory", "str")],
     ("directory",),
     _doc("将此 ParameterDirectory 对象递归保存的参数指定的目录里面。", ":param directory: 要保存到的目标文件夹路径",
          ":return: None")),
    ("ParameterDirectory", "load", STATIC, 433, "(directory: 'str')", None, [("directory", "str")], ("directory",),
     _doc("递归加载整个文件夹的配置文件", ":param directory: 要加载的文件夹的路径名称",
          ":return: 一个 ParameterDirectory 对象")),
]


class Member:
    def __init__(self, owner, name, kind, line, signature, defaults, annotations, checked, doc):
        self.owner, self.name, self.kind, self.line = owner, name, kind, line
        self.signature, self.defaults, self.annotations = signature, defaults, annotations
        self.checked, self.doc = checked, doc
        self.qualname = owner + "." + name if owner else name
        self.parameters = _parameter_names(signature)
        self.var_keywords = "**" in signature
        self.required = len(self.parameters) - len(defaults or ())
        self.single = len(self.parameters) == 1 and not self.var_keywords

    @property
    def function(self):
        if self.owner is None:
            return getattr(yv, self.name)
        entry = vars(CLASSES[self.owner])[self.name]
        return entry.fget if self.kind == PROPERTY else entry.__func__ if self.kind == STATIC else entry

    def __repr__(self):
        return self.qualname


def _parameters(signature):
    """The parameters of a signature as written, apart at the commas outside brackets."""
    inner = signature[1:signature.rindex(")")]
    parts, depth, start = [], 0, 0
    for index, char in enumerate(inner + ","):
        depth += char == "["
        depth -= char == "]"
        if char == "," and depth == 0:
            part = inner[start:index].strip()
            start = index + 1
            if part:
                parts.append(part)
    return parts


def _parameter_names(signature):
    """The names in a parameter list, "**kwargs" left out."""
    return [re.match(r"\w+", part).group() for part in _parameters(signature) if not part.startswith("**")]


ALL = [Member(*row) for row in MEMBERS]
SINGLE = [m for m in ALL if m.single]
NAMED = [m for m in ALL if not m.single]
CHECKED = [m for m in ALL if m.checked]
STATICS = [m for m in ALL if m.kind == STATIC]


# From 3.14 the typing module writes a Union with "|" (an Optional as "| None").
_UNIONS_WITH_BARS = [
    ("Union[str, dict]", "str | dict"),
    ("Optional[Dict[str, yol_vovoruze.Parameter]]", "Dict[str, yol_vovoruze.Parameter] | None"),
    ("Optional[dict]", "dict | None"),
]


def shown(signature):
    """A signature as this interpreter's inspect prints it."""
    if sys.version_info >= (3, 14):
        for union, with_bars in _UNIONS_WITH_BARS:
            signature = signature.replace(union, with_bars)
    if sys.version_info < (3, 9):
        signature = signature.replace("Optional[Dict[str, yol_vovoruze.Parameter]]",
                                      "Union[Dict[str, yol_vovoruze.Parameter], NoneType]")
        signature = signature.replace("Optional[dict]", "Union[dict, NoneType]")
    if sys.version_info < (3, 7):
        signature = signature.replace(": ", ":").replace(" = ", "=")
    return signature


def shown_in_help(name, signature):
    """The lines, without their indentation, with which help() heads the
    function `name` of `signature`."""
    signature = shown(signature)
    if sys.version_info >= (3, 14):
        # help() writes each annotation as its text: a string unquoted, a
        # typing expression with the typing module's name.
        signature = re.sub(r"(: |-> )'(\w+)'", r"\1\2", signature).replace("Dict[", "typing.Dict[")
    parameters = signature[:signature.rindex(")") + 1]
    if sys.version_info >= (3, 13) and len(parameters) > 80 - len(name):
        # One parameter a line where they would make the line too long.
        parts = _parameters(signature)
        return [name + "("] + [part + "," for part in parts[:-1]] + [parts[-1], ")" + signature[len(parameters):]]
    return [name + signature]


def instance(owner):
    return object.__new__(CLASSES[owner])


def failure(thunk):
    """Runs `thunk` (a lambda) and returns its exception with the traceback entries below the lambda."""
    try:
        thunk()
    except Exception as error:
        entries = [(e.name, e.filename, e.lineno) for e in traceback.extract_tb(error.__traceback__)[2:]]
        return error, entries
    raise AssertionError("no exception was raised")


def entry(member):
    return ("yol_vovoruze." + member.qualname, SOURCE_FILE, member.line)


class MyStr(str):
    pass


class MyDict(dict):
    pass




# ---------------------------------------------------------------------------
# The namespace


@pytest.fixture(scope="module")
def fresh_namespaces(tmp_path_factory):
    """The module's and the classes' namespaces in a new interpreter, before any test changed them
    (a host may rebind names, and pickling caches __slotnames__ on a class)."""
    return child_report(tmp_path_factory.mktemp("fresh"), '''
        import yol_vovoruze as yv
        report(module=list(vars(yv)),
               classes={name: list(vars(getattr(yv, name)))
                        for name in ("Parameter", "ParameterBook", "ParameterDirectory")})
    ''')


def test_namespace_binds_its_names_in_source_order(fresh_namespaces):
    public = [name for name in fresh_namespaces["module"] if not (name.startswith("__") and name.endswith("__"))]
    assert public == ["_Union", "_Dict", "_Optional", "_List", "_locale", "_json", "_path", "_os",
                      "LIMIT_MODE_ABSOLUTE", "LIMIT_MODE_RELATIVE", "LIMIT_MODE_RELATIVE_PERCENTAGE",
                      "InvalidNameCharacters", "_value_cls_map", "_clone_attribute",
                      "Parameter", "ParameterBook", "ParameterDirectory"]


def test_import_system_attributes():
    dunders = {name for name in vars(yv) if name.startswith("__") and name.endswith("__")}
    assert dunders == {"__name__", "__doc__", "__loader__", "__file__", "__package__", "__spec__", "__builtins__"}
    assert yv.__name__ == "yol_vovoruze"
    assert yv.__doc__ is None
    assert yv.__builtins__ is builtins
    assert yv.__file__ == yv.__spec__.origin
    assert yv.__loader__ is yv.__spec__.loader
    assert yv.__package__ == yv.__spec__.parent == ""
    assert not hasattr(yv, "__path__")


@pytest.mark.parametrize("name, module", [
    ("_Union", typing.Union), ("_Dict", typing.Dict), ("_Optional", typing.Optional), ("_List", typing.List),
    ("_locale", locale), ("_json", json), ("_path", os.path), ("_os", os),
])
def test_imported_names(name, module):
    assert getattr(yv, name) is module


def test_path_is_the_submodule_not_the_package():
    assert yv._path is not yv._os
    assert yv._path is yv._os.path


@pytest.mark.parametrize("name, value", [
    ("LIMIT_MODE_ABSOLUTE", 0), ("LIMIT_MODE_RELATIVE", 1), ("LIMIT_MODE_RELATIVE_PERCENTAGE", 2),
])
def test_limit_modes(name, value):
    constant = getattr(yv, name)
    assert type(constant) is int
    assert constant == value


def test_invalid_name_characters():
    characters = yv.InvalidNameCharacters
    assert type(characters) is str
    assert characters == '.\\/:*?"<>|'
    assert len(characters) == 10
    assert characters.count("\\") == 1
    assert [ord(c) for c in characters] == [0x2E, 0x5C, 0x2F, 0x3A, 0x2A, 0x3F, 0x22, 0x3C, 0x3E, 0x7C]


def test_value_class_map():
    mapping = yv._value_cls_map
    assert type(mapping) is dict
    assert list(mapping) == ["str", "int", "float", "bool", "dict", "list", "eval"]
    for key, value in mapping.items():
        assert value is getattr(builtins, key), key


# ---------------------------------------------------------------------------
# The classes


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_class_is_an_ordinary_class(name):
    cls = CLASSES[name]
    assert type(cls) is type
    assert cls.__bases__ == (object,)
    assert cls.__mro__ == (cls, object)
    assert cls.__doc__ is None
    assert cls.__module__ == "yol_vovoruze"
    assert cls.__name__ == cls.__qualname__ == name
    assert "__slots__" not in vars(cls)
    assert object.__new__(cls).__dict__ == {}


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_class_namespace_holds_the_members_in_order(name, fresh_namespaces):
    members = [m.name for m in ALL if m.owner == name]
    if name == "ParameterBook":
        members.insert(0, "ExtName")
    assert fresh_namespaces["classes"][name] == ["__module__"] + members + ["__dict__", "__weakref__", "__doc__"]


def test_ext_name_is_the_only_data_attribute():
    assert type(vars(B)["ExtName"]) is str
    assert B.ExtName == "yolpt"
    data = [(cls.__name__, key) for cls in CLASSES.values() for key, value in vars(cls).items()
            if not key.startswith("__") and not isinstance(value, (staticmethod, property)) and not callable(value)]
    assert data == [("ParameterBook", "ExtName")]


@pytest.mark.parametrize("member", [m for m in ALL if m.owner], ids=repr)
def test_class_dict_wraps_each_member_by_kind(member):
    entry = vars(CLASSES[member.owner])[member.name]
    function = member.function
    if member.kind == STATIC:
        assert type(entry) is staticmethod
        assert entry.__func__ is function
    elif member.kind == PROPERTY:
        assert type(entry) is property
        assert entry.fget is function
        assert entry.fset is None and entry.fdel is None
        assert entry.__doc__ == function.__doc__
    else:
        assert entry is function
    assert inspect.isroutine(function)


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_class_signature_is_that_of_init(name):
    init = [m for m in ALL if m.owner == name and m.name == "__init__"][0]
    assert str(inspect.signature(CLASSES[name])) == shown(init.signature.replace("(self, ", "("))


# ---------------------------------------------------------------------------
# The function objects


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_names(member):
    function = member.function
    assert function.__name__ == member.name
    assert function.__qualname__ == member.qualname
    assert function.__module__ == "yol_vovoruze"


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_docstring(member):
    assert member.function.__doc__ == member.doc


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_defaults(member):
    function = member.function
    assert function.__defaults__ == member.defaults
    if member.defaults is not None:
        assert [type(d) for d in function.__defaults__] == [type(d) for d in member.defaults]
    assert function.__kwdefaults__ is None


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_annotations(member):
    annotations = member.function.__annotations__
    assert type(annotations) is dict
    assert list(annotations) == [key for key, _ in member.annotations]
    for key, expected in member.annotations:
        value = annotations[key]
        if isinstance(expected, (str, type)):
            assert type(value) is type(expected), key
            assert value == expected or value is expected, key
        else:
            assert value == expected, key


def test_typing_annotations_hold_the_module_objects():
    book_parameters = B.__init__.__annotations__["parameters"]
    inner = [arg for arg in book_parameters.__args__ if arg is not type(None)]
    assert len(inner) == 1 and type(None) in book_parameters.__args__
    assert inner[0].__args__ == (str, P)
    assert inner[0].__args__[1] is P
    assert P.__init__.__annotations__["description"].__args__ == (str, dict)
    assert D.__init__.__annotations__["parameters"].__args__ == (dict, type(None))
    assert D._backup_books_in_this_directory.__annotations__["return"].__args__ == (str,)


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_code(member):
    code = member.function.__code__
    assert code.co_filename == SOURCE_FILE
    assert code.co_name == member.name
    assert code.co_firstlineno == member.line
    assert code.co_argcount == len(member.parameters)
    assert code.co_kwonlyargcount == 0
    assert code.co_varnames[:code.co_argcount] == tuple(member.parameters)
    assert not code.co_flags & inspect.CO_VARARGS
    assert bool(code.co_flags & inspect.CO_VARKEYWORDS) == member.var_keywords
    if member.var_keywords:
        assert code.co_varnames[code.co_argcount] == "kwargs"


def test_only_parameter_init_takes_var_keywords():
    assert [m.qualname for m in ALL if m.function.__code__.co_flags & inspect.CO_VARKEYWORDS] == \
        ["Parameter.__init__"]


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_signature(member):
    assert str(inspect.signature(member.function)) == shown(member.signature)


@pytest.mark.parametrize("member", [m for m in ALL if m.kind == METHOD], ids=repr)
def test_method_binds_to_an_instance(member):
    obj = instance(member.owner)
    bound = getattr(obj, member.name)
    assert type(bound) is types.MethodType
    assert bound.__func__ is member.function
    assert bound.__self__ is obj
    assert getattr(CLASSES[member.owner], member.name) is member.function
    assert str(inspect.signature(bound)) == shown(member.signature.replace("(self, ", "(").replace("(self)", "()"))


@pytest.mark.parametrize("member", STATICS, ids=repr)
def test_static_method_does_not_bind(member):
    obj = instance(member.owner)
    assert getattr(obj, member.name) is member.function
    assert getattr(CLASSES[member.owner], member.name) is member.function


def test_function_descriptor_protocol():
    function = P.clone
    obj = instance("Parameter")
    assert function.__get__(None, P) is function
    assert function.__get__(obj, P).__func__ is function
    assert function.__get__(obj).__self__ is obj


@pytest.mark.parametrize("member", ALL, ids=repr)
def test_function_repr(member):
    function = member.function
    assert repr(function) == "<function %s at %s>" % (member.qualname, hex(id(function)))


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("member", [m for m in ALL if m.kind != PROPERTY], ids=repr)
def test_function_pickles_by_reference(member, protocol):
    function = member.function
    assert pickle.loads(pickle.dumps(function, protocol)) is function


def test_function_weak_reference():
    reference = weakref.ref(P.get)
    assert reference() is P.get
    assert weakref.ref(yv._clone_attribute)() is yv._clone_attribute


def _plain_doc(obj):
    return pydoc.render_doc(obj, renderer=pydoc.plaintext)


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_help_on_a_class_shows_signatures_and_docstrings(name):
    text = _plain_doc(CLASSES[name])
    lines = [line.lstrip(" |").rstrip() for line in text.splitlines()]
    assert "class %s(builtins.object)" % name in text
    for member in (m for m in ALL if m.owner == name):
        if member.name.startswith("_") and not member.name.startswith("__"):
            assert member.name not in text  # private, as help() leaves such names out
            continue
        if member.kind == PROPERTY:
            heading = [member.name]
        else:
            heading = shown_in_help(member.name, member.signature)
        starts = [i for i in range(len(lines)) if lines[i:i + len(heading)] == heading]
        assert starts, heading
        position = starts[0] + len(heading) - 1
        if member.doc is not None:
            doc_lines = member.doc.strip("\n\t").split("\n\t\t")
            assert lines[position + 1:position + 1 + len(doc_lines)] == doc_lines, heading
        else:
            assert lines[position + 1] == "", heading
    assert ("ExtName = 'yolpt'" in lines) == (name == "ParameterBook")
    assert ("Static methods defined here:" in lines) == any(m.owner == name for m in STATICS)


def test_help_on_a_member():
    text = _plain_doc(P.get)
    heading, = shown_in_help("get", "(self, name: 'str', default=None, raise_if_none: bool = False)")
    assert heading in text.splitlines()
    assert ":param raise_if_none: 在属性不存在，默认值为 None 的情况下，是否抛出异常？" in text
    assert "_clone_attribute(attr)" in _plain_doc(yv._clone_attribute)


def test_help_on_the_module():
    text = _plain_doc(yv)
    for name in CLASSES:
        assert "class %s(builtins.object)" % name in text
    assert "LIMIT_MODE_ABSOLUTE = 0" in text
    assert "LIMIT_MODE_RELATIVE_PERCENTAGE = 2" in text


# ---------------------------------------------------------------------------
# Argument conventions: one-argument members


@pytest.mark.parametrize("member", SINGLE, ids=repr)
def test_single_argument_counts(member):
    function = member.function
    for args in [(), (1, 2), (1, 2, 3)]:
        error, entries = failure(lambda: function(*args))
        assert type(error) is TypeError
        assert str(error) == "%s() takes exactly one argument (%d given)" % (member.name, len(args))
        assert entries == []


@pytest.mark.parametrize("member", SINGLE, ids=repr)
def test_single_argument_refuses_keywords(member):
    function = member.function
    for thunk in [lambda: function(x=1), lambda: function(1, x=1), lambda: function(**{member.parameters[0]: 1}),
                  lambda: function(1, 2, x=1)]:
        error, entries = failure(thunk)
        assert type(error) is TypeError
        assert str(error) == "%s() takes no keyword arguments" % member.name
        assert entries == []


@pytest.mark.parametrize("member", [m for m in SINGLE if m.kind == METHOD], ids=repr)
def test_single_argument_count_includes_bound_self(member):
    bound = getattr(instance(member.owner), member.name)
    error, entries = failure(lambda: bound(1))
    assert str(error) == "%s() takes exactly one argument (2 given)" % member.name
    assert entries == []
    error, entries = failure(lambda: bound(self=1))
    assert str(error) == "%s() takes no keyword arguments" % member.name


@pytest.mark.parametrize("member", STATICS, ids=repr)
def test_static_method_counts_the_same_through_an_instance(member):
    bound = getattr(instance(member.owner), member.name)
    error, _ = failure(lambda: bound())
    assert str(error) == "%s() takes exactly one argument (0 given)" % member.name
    error, _ = failure(lambda: bound(1, 2))
    assert str(error) == "%s() takes exactly one argument (2 given)" % member.name


def test_property_getter_is_a_one_argument_function():
    getter = vars(P)["description"].fget
    error, entries = failure(lambda: getter())
    assert str(error) == "description() takes exactly one argument (0 given)"
    assert entries == []


# ---------------------------------------------------------------------------
# Argument conventions: named binding


def _count_message(member, how, number, given):
    return "%s() takes %s %d positional argument%s (%d given)" % (
        member.name, how, number, "" if number == 1 else "s", given)


def _arguments(member):
    """Positional values for every parameter of a member: an instance for self, plain strings elsewhere."""
    return [instance(member.owner) if name == "self" else "v" for name in member.parameters]


@pytest.mark.parametrize("member", NAMED, ids=repr)
def test_too_many_positional_arguments(member):
    args = _arguments(member) + ["extra"]
    error, entries = failure(lambda: member.function(*args))
    how = "exactly" if member.defaults is None else "at most"
    assert type(error) is TypeError
    assert str(error) == _count_message(member, how, len(member.parameters), len(args))
    assert entries == [entry(member)]


@pytest.mark.parametrize("member", NAMED, ids=repr)
def test_no_arguments(member):
    error, entries = failure(lambda: member.function())
    how = "exactly" if member.defaults is None else "at least"
    assert type(error) is TypeError
    assert str(error) == _count_message(member, how, member.required, 0)
    assert entries == [entry(member)]


@pytest.mark.parametrize("member", [m for m in NAMED if m.required >= 2], ids=repr)
def test_missing_parameter_reports_its_position(member):
    # The first parameter after self is missing; every later one comes by keyword.
    args = _arguments(member)
    keywords = dict(zip(member.parameters[2:], args[2:]))
    error, entries = failure(lambda: member.function(args[0], **keywords))
    how = "exactly" if member.defaults is None else "at least"
    assert str(error) == _count_message(member, how, member.required, 1)
    assert entries == [entry(member)]


@pytest.mark.parametrize("member", NAMED, ids=repr)
def test_missing_self_reports_position_zero(member):
    args = _arguments(member)
    keywords = dict(zip(member.parameters[1:], args[1:]))
    error, entries = failure(lambda: member.function(**keywords))
    how = "exactly" if member.defaults is None else "at least"
    assert str(error) == _count_message(member, how, member.required, 0)
    assert entries == [entry(member)]


@pytest.mark.parametrize("member", [m for m in NAMED if not m.var_keywords], ids=repr)
def test_unexpected_keyword(member):
    args = _arguments(member)[:member.required]
    error, entries = failure(lambda: member.function(*args, nme=1))
    assert type(error) is TypeError
    assert str(error) == "%s() got an unexpected keyword argument 'nme'" % member.name
    assert entries == [entry(member)]


@pytest.mark.parametrize("member", NAMED, ids=repr)
def test_multiple_values(member):
    args = _arguments(member)[:member.required]
    first = member.parameters[0]
    error, entries = failure(lambda: member.function(*args, **{first: 1}))
    assert type(error) is TypeError
    assert str(error) == "%s() got multiple values for keyword argument '%s'" % (member.name, first)
    assert entries == [entry(member)]


GET = [m for m in ALL if m.qualname == "Parameter.get"][0]
TO_DICT = [m for m in ALL if m.qualname == "Parameter.to_dict"][0]
RENAME = [m for m in ALL if m.qualname == "ParameterBook.rename"][0]
SET_DESCRIPTION = [m for m in ALL if m.qualname == "Parameter.set_description"][0]
P_INIT = [m for m in ALL if m.qualname == "Parameter.__init__"][0]
B_INIT = [m for m in ALL if m.qualname == "ParameterBook.__init__"][0]
B_SAVE = [m for m in ALL if m.qualname == "ParameterBook.save"][0]
p = instance("Parameter")
book = instance("ParameterBook")


@pytest.mark.parametrize("thunk, member, message", [
    (lambda: p.to_dict(), TO_DICT, "to_dict() takes exactly 2 positional arguments (1 given)"),
    (lambda: p.to_dict("a", "b"), TO_DICT, "to_dict() takes exactly 2 positional arguments (3 given)"),
    (lambda: p.get(), GET, "get() takes at least 2 positional arguments (1 given)"),
    (lambda: p.get("a", 1, True, 4), GET, "get() takes at most 4 positional arguments (5 given)"),
    (lambda: p.get(default=1), GET, "get() takes at least 2 positional arguments (1 given)"),
    (lambda: P.get(name="a"), GET, "get() takes at least 2 positional arguments (0 given)"),
    (lambda: P.get(self=p, default=1, raise_if_none=True), GET,
     "get() takes at least 2 positional arguments (1 given)"),
    (lambda: p.get(nme=1), GET, "get() takes at least 2 positional arguments (1 given)"),
    (lambda: p.get("a", 1, True, 4, nme=1), GET, "get() takes at most 4 positional arguments (5 given)"),
    (lambda: p.get("a", name="b"), GET, "get() got multiple values for keyword argument 'name'"),
    (lambda: p.get("a", nme=1), GET, "get() got an unexpected keyword argument 'nme'"),
    (lambda: p.get("a", nme=1, name="b"), GET, "get() got an unexpected keyword argument 'nme'"),
    (lambda: p.get("a", name="b", nme=1), GET, "get() got multiple values for keyword argument 'name'"),
    (lambda: p.get("a", default=1, default_=2), GET, "get() got an unexpected keyword argument 'default_'"),
    (lambda: p.get(b"a", nme=1), GET, "get() got an unexpected keyword argument 'nme'"),
    (lambda: p.set_description(local="x"), SET_DESCRIPTION,
     "set_description() takes at least 2 positional arguments (1 given)"),
    (lambda: book.rename(new="x"), RENAME, "rename() takes exactly 3 positional arguments (1 given)"),
    (lambda: B.rename(self=book, new="x"), RENAME, "rename() takes exactly 3 positional arguments (1 given)"),
    (lambda: B.rename(old="a", new="b"), RENAME, "rename() takes exactly 3 positional arguments (0 given)"),
    (lambda: book.rename("a"), RENAME, "rename() takes exactly 3 positional arguments (2 given)"),
    (lambda: book.rename(b"a", 1, 2), RENAME, "rename() takes exactly 3 positional arguments (4 given)"),
    (lambda: book.save(), B_SAVE, "save() takes at least 2 positional arguments (1 given)"),
    (lambda: book.save("f", True, 3), B_SAVE, "save() takes at most 3 positional arguments (4 given)"),
    (lambda: P.__init__(), P_INIT, "__init__() takes at least 1 positional argument (0 given)"),
    (lambda: P.__init__(p, "", 3), P_INIT, "__init__() takes at most 2 positional arguments (3 given)"),
    (lambda: P.__init__(p, "", description=""), P_INIT,
     "__init__() got multiple values for keyword argument 'description'"),
    (lambda: P(self=1), P_INIT, "__init__() got multiple values for keyword argument 'self'"),
    (lambda: P("", description="x"), P_INIT, "__init__() got multiple values for keyword argument 'description'"),
    (lambda: P("", "x"), P_INIT, "__init__() takes at most 2 positional arguments (3 given)"),
    (lambda: B(None, None), [m for m in ALL if m.qualname == "ParameterBook.__init__"][0],
     "__init__() takes at most 2 positional arguments (3 given)"),
    (lambda: D(parameters=None, other=1), [m for m in ALL if m.qualname == "ParameterDirectory.__init__"][0],
     "__init__() got an unexpected keyword argument 'other'"),
])
def test_binding_failures(thunk, member, message):
    error, entries = failure(thunk)
    assert type(error) is TypeError
    assert str(error) == message
    assert entries == [entry(member)]


@pytest.mark.parametrize("thunk, member", [
    (lambda: p.get("a", **{1: 2}), GET),
    (lambda: p.get("a", **{"default": 1, 2: 3}), GET),
    (lambda: P.__init__(p, **{1: 2}), P_INIT),
    (lambda: P.__init__(p, "", **{"x": 1, 2: 3}), P_INIT),
    (lambda: P("", **{"x": 1, 2: 3}), P_INIT),
    (lambda: B(**{1: 2}), B_INIT),
    (lambda: book.rename("a", "b", **{1: 2}), RENAME),
])
def test_keywords_must_be_strings(thunk, member):
    error, entries = failure(thunk)
    assert type(error) is TypeError
    if sys.version_info >= (3, 9):
        # The interpreter refuses such keywords before the call.
        assert str(error) == "keywords must be strings"
        assert entries == []
    else:
        assert str(error) == "%s() keywords must be strings" % member.name
        assert entries == [entry(member)]


def test_missing_parameter_is_reported_before_non_string_keywords():
    error, entries = failure(lambda: p.get(**{1: 2}))
    if sys.version_info >= (3, 9):
        assert str(error) == "keywords must be strings"
    else:
        assert str(error) == "get() takes at least 2 positional arguments (1 given)"
        assert entries == [entry(GET)]


# ---------------------------------------------------------------------------
# Argument conventions: type checks


def _checked_call(member, bad_index, bad_value, filler="v"):
    """Calls a member with `bad_value` in one checked parameter and valid values elsewhere."""
    args = []
    for index, name in enumerate(member.parameters):
        if name == "self":
            args.append(instance(member.owner))
        elif index == bad_index:
            args.append(bad_value)
        elif name in member.checked:
            args.append({} if name == "data" else filler)
        elif index < member.required:
            args.append("v")
        else:
            break
    return lambda: member.function(*args)


def _checked_cases():
    for member in CHECKED:
        for name in member.checked:
            yield member, name


@pytest.mark.parametrize("member, name", list(_checked_cases()), ids=lambda x: x if isinstance(x, str) else repr(x))
@pytest.mark.parametrize("bad", [b"x", 1, 1.5, ["x"], MyStr("x"), MyDict(), object()], ids=lambda v: type(v).__name__)
def test_type_check_failure(member, name, bad):
    expected = "dict" if name == "data" else "str"
    thunk = _checked_call(member, member.parameters.index(name), bad)
    error, entries = failure(thunk)
    assert type(error) is TypeError
    assert str(error) == "Argument '%s' has incorrect type (expected %s, got %s)" % (
        name, expected, type(bad).__name__)
    assert entries == []


@pytest.mark.parametrize("member", [m for m in CHECKED if len(m.checked) == 2], ids=repr)
def test_type_checks_run_in_signature_order(member):
    first, second = member.checked
    args = [instance(member.owner), b"1", 2]
    error, _ = failure(lambda: member.function(*args))
    assert str(error) == "Argument '%s' has incorrect type (expected str, got bytes)" % first
    args = [instance(member.owner), "1", 2]
    error, _ = failure(lambda: member.function(*args))
    assert str(error) == "Argument '%s' has incorrect type (expected str, got int)" % second


@pytest.mark.parametrize("member", [m for m in CHECKED if len(m.checked) == 2], ids=repr)
def test_type_check_accepts_none(member):
    first, second = member.checked
    error, entries = failure(lambda: member.function(instance(member.owner), None, b"x"))
    assert str(error) == "Argument '%s' has incorrect type (expected str, got bytes)" % second
    assert entries == []


def test_type_check_applies_to_keyword_arguments():
    error, entries = failure(lambda: p.get(name=MyStr("a")))
    assert str(error) == "Argument 'name' has incorrect type (expected str, got MyStr)"
    assert entries == []
    error, _ = failure(lambda: p.get_description(local=b"en"))
    assert str(error) == "Argument 'local' has incorrect type (expected str, got bytes)"
    error, _ = failure(lambda: p.set_description(local=1, description=None))
    assert str(error) == "Argument 'local' has incorrect type (expected str, got int)"


@pytest.mark.parametrize("thunk, message", [
    (lambda: p.get(b"x"), "Argument 'name' has incorrect type (expected str, got bytes)"),
    (lambda: p.to_dict(MyStr("n")), "Argument 'name' has incorrect type (expected str, got MyStr)"),
    (lambda: P.from_dict([]), "Argument 'data' has incorrect type (expected dict, got list)"),
    (lambda: p.from_dict(MyDict()), "Argument 'data' has incorrect type (expected dict, got MyDict)"),
    (lambda: P.from_dict("{}"), "Argument 'data' has incorrect type (expected dict, got str)"),
    (lambda: B.load(b"f"), "Argument 'filename' has incorrect type (expected str, got bytes)"),
    (lambda: book.save(1, True), "Argument 'filename' has incorrect type (expected str, got int)"),
    (lambda: D.load(MyStr("d")), "Argument 'directory' has incorrect type (expected str, got MyStr)"),
    (lambda: D._backup_books_in_this_directory(1), "Argument 'directory' has incorrect type (expected str, got int)"),
    (lambda: D.save(instance("ParameterDirectory"), ["d"]),
     "Argument 'directory' has incorrect type (expected str, got list)"),
    (lambda: book.rename(None, b"x"), "Argument 'new' has incorrect type (expected str, got bytes)"),
])
def test_type_check_examples(thunk, message):
    error, entries = failure(thunk)
    assert type(error) is TypeError
    assert str(error) == message
    assert entries == []


@pytest.mark.parametrize("cls", [P, B, D], ids=lambda cls: cls.__name__)
def test_members_a_host_assigns_on_a_class_take_over_at_once(cls, monkeypatch):
    """The classes run __getitem__, __setitem__, __delitem__, __getattr__ and
    __init__ from slots of their own; assigning one of them on the class, or
    defining it in a subclass, is honoured as for any class."""
    value = P() if cls is B else B() if cls is D else 1
    made = cls()
    calls = []
    for name in ("__getitem__", "__setitem__", "__delitem__", "__getattr__", "__init__"):
        monkeypatch.setattr(cls, name, lambda self, *args, name=name: calls.append((name,) + args))
    made["k"] = value
    made["k"]
    del made["k"]
    made.missing
    cls("x")
    assert calls == [("__setitem__", "k", value), ("__getitem__", "k"), ("__delitem__", "k"),
                     ("__getattr__", "missing"), ("__init__", "x")]
    monkeypatch.undo()
    made["k"] = value
    assert made["k"] is value and made.k is value
    sub = type("Sub", (cls,), {"__getitem__": lambda self, key: ("own", key)})()
    assert sub["k"] == ("own", "k")
    with pytest.raises(KeyError) as missing:
        made["absent"]
    assert missing.value.args == ("absent",)
    assert traceback.extract_tb(missing.value.__traceback__)[-1].name == "yol_vovoruze.%s.__getitem__" % cls.__name__


def test_a_replaced_module_name_is_not_kept_alive_once_put_back(namespace_guard, tmp_path):
    """The module looks its names up at each use; what it remembers of a
    lookup keeps nothing alive after the host has put the original back."""
    class PathModule(types.ModuleType):
        def __getattr__(self, name):
            return getattr(os.path, name)

    replacement = PathModule("replacement")
    gone = weakref.ref(replacement)
    namespace_guard["_path"] = replacement
    tree = yv.ParameterDirectory({"b": yv.ParameterBook({"p": yv.Parameter("d", v=1)})})
    tree.save(str(tmp_path / "tree"))
    yv.ParameterDirectory.load(str(tmp_path / "tree"))
    os.symlink(str(tmp_path / "tree" / "b.yolpt"), str(tmp_path / "link.yolpt"))
    tree["b"].save(str(tmp_path / "link.yolpt"))  # written through the link, resolved with _path.realpath
    namespace_guard["_path"] = os.path
    del replacement
    gc.collect()
    assert gone() is None


# ---------------------------------------------------------------------------
# Import behaviour in this interpreter


def test_second_import_returns_the_same_module():
    import yol_vovoruze as again
    assert again is yv
    assert importlib.import_module("yol_vovoruze") is yv
    assert sys.modules["yol_vovoruze"] is yv


def test_reload_keeps_rebound_names(namespace_guard):
    classes = (yv.Parameter, yv.ParameterBook, yv.ParameterDirectory, yv._clone_attribute)
    yv.LIMIT_MODE_ABSOLUTE = 42
    yv.InvalidNameCharacters = "changed"
    assert importlib.reload(yv) is yv
    assert yv.LIMIT_MODE_ABSOLUTE == 42
    assert yv.InvalidNameCharacters == "changed"
    assert (yv.Parameter, yv.ParameterBook, yv.ParameterDirectory, yv._clone_attribute) == classes


def test_import_after_removal_from_sys_modules_gives_the_same_module(namespace_guard):
    yv.LIMIT_MODE_RELATIVE = 41
    del sys.modules["yol_vovoruze"]
    try:
        again = importlib.import_module("yol_vovoruze")
    finally:
        sys.modules["yol_vovoruze"] = yv
    assert again is yv
    assert again.LIMIT_MODE_RELATIVE == 41


# ---------------------------------------------------------------------------
# Import behaviour in fresh interpreters

PRELUDE = '''
import json, sys, traceback

def catch(thunk):
    try:
        thunk()
    except BaseException as error:
        return error
    return None

def describe(error):
    if error is None:
        return None
    return {"type": type(error).__name__, "message": str(error),
            "entries": [[e.name, e.filename, e.lineno] for e in traceback.extract_tb(error.__traceback__)
                        if e.filename == "vovoruze.py"]}

def do_import():
    import yol_vovoruze

def report(**result):
    sys.stdout.write("\\n" + json.dumps(result) + "\\n")
'''


def child_report(tmp_path, source, *options):
    """Runs PRELUDE and `source` in a new interpreter in `tmp_path`; returns what it reported."""
    return child_result(run_python(PRELUDE + textwrap.dedent(source), options=options, cwd=tmp_path))


def test_reinitialisation_is_refused(tmp_path):
    result = child_report(tmp_path, '''
        import ctypes, importlib.util, types
        import yol_vovoruze
        library = ctypes.PyDLL(yol_vovoruze.__file__)
        library.PyInit_yol_vovoruze.restype = ctypes.c_void_p
        definition = library.PyInit_yol_vovoruze()
        exec_def = ctypes.pythonapi.PyModule_ExecDef
        exec_def.argtypes = [ctypes.py_object, ctypes.c_void_p]
        exec_def.restype = ctypes.c_int
        other = types.ModuleType("yol_vovoruze")
        refused = describe(catch(lambda: exec_def(other, definition)))
        yol_vovoruze.LIMIT_MODE_ABSOLUTE = 42
        parameter = yol_vovoruze.Parameter
        same = exec_def(yol_vovoruze, definition)
        created = importlib.util.module_from_spec(yol_vovoruze.__spec__)
        report(refused=refused, other=sorted(vars(other)), same=same,
               kept=[yol_vovoruze.LIMIT_MODE_ABSOLUTE, yol_vovoruze.Parameter is parameter],
               created=created is yol_vovoruze, modules=sys.modules["yol_vovoruze"] is yol_vovoruze)
    ''')
    assert result["refused"] == {
        "type": "RuntimeError", "entries": [],
        "message": "Module 'yol_vovoruze' has already been imported. Re-initialisation is not supported."}
    assert "Parameter" not in result["other"] and "_clone_attribute" not in result["other"]
    assert result["same"] == 0
    assert result["kept"] == [42, True]
    assert result["created"] is True
    assert result["modules"] is True


def test_second_interpreter_is_refused(tmp_path):
    pytest.importorskip("_testcapi")
    import _testcapi
    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("this interpreter cannot run sub-interpreters")
    outcome = str(tmp_path / "outcome.json")
    code = textwrap.dedent('''
        import json, sys
        try:
            import yol_vovoruze
        except ImportError as error:
            outcome = [type(error).__name__, str(error), "yol_vovoruze" in sys.modules]
        else:
            outcome = ["imported", "", True]
        with open(%r, "w") as handle:
            handle.write(json.dumps(outcome))
    ''') % outcome
    result = child_report(tmp_path, '''
        import _testcapi
        import yol_vovoruze
        status = _testcapi.run_in_subinterp(%r)
        with open(%r) as handle:
            outcome = json.load(handle)
        report(status=status, outcome=outcome, main=yol_vovoruze._clone_attribute([1, {"a": 2}]))
    ''' % (code, outcome))
    assert result["status"] == 0
    assert result["outcome"] == [
        "ImportError",
        "Interpreter change detected - this module can only be loaded into one interpreter per process.",
        False]
    assert result["main"] == [1, {"a": 2}]


@pytest.mark.parametrize("missing", ["Union", "Dict", "Optional", "List"])
def test_typing_without_a_name_fails_the_import(tmp_path, missing):
    result = child_report(tmp_path, '''
        import types, typing
        fake = types.ModuleType("typing")
        for name in ("Union", "Dict", "Optional", "List"):
            if name != %r:
                setattr(fake, name, getattr(typing, name))
        sys.modules["typing"] = fake
        error = catch(do_import)
        left = "yol_vovoruze" in sys.modules
        sys.modules["typing"] = typing
        import yol_vovoruze
        report(error=describe(error), left=left,
               names=[yol_vovoruze._Union is typing.Union, yol_vovoruze._List is typing.List],
               clone=yol_vovoruze._clone_attribute([1, {"a": [2]}]))
    ''' % missing)
    assert result["error"] == {"type": "ImportError", "message": "cannot import name " + missing,
                               "entries": [["init yol_vovoruze", SOURCE_FILE, 1]]}
    assert result["left"] is False
    assert result["names"] == [True, True]
    assert result["clone"] == [1, {"a": [2]}]


@pytest.mark.parametrize("module, line", [("typing", 1), ("locale", 2), ("json", 3), ("os.path", 4), ("os", 5)])
def test_missing_standard_module_fails_the_import(tmp_path, module, line):
    result = child_report(tmp_path, '''
        saved = sys.modules.get(%r)
        sys.modules[%r] = None
        error = catch(do_import)
        if saved is None:
            del sys.modules[%r]
        else:
            sys.modules[%r] = saved
        left = "yol_vovoruze" in sys.modules
        import yol_vovoruze
        report(error=describe(error), left=left, constant=yol_vovoruze.LIMIT_MODE_RELATIVE_PERCENTAGE)
    ''' % (module, module, module, module))
    assert result["error"] == {"type": "ModuleNotFoundError",
                               "message": "import of %s halted; None in sys.modules" % module,
                               "entries": [["init yol_vovoruze", SOURCE_FILE, line]]}
    assert result["left"] is False
    assert result["constant"] == 2


def test_missing_builtin_fails_the_import(tmp_path):
    result = child_report(tmp_path, '''
        import builtins
        saved = builtins.open
        del builtins.open
        error = catch(do_import)
        builtins.open = saved
        left = "yol_vovoruze" in sys.modules
        error = describe(error)
        import yol_vovoruze
        report(error=error, left=left, map=list(yol_vovoruze._value_cls_map))
    ''')
    error = result["error"]
    assert error["type"] == "NameError"
    assert error["message"] == "name 'open' is not defined"
    assert [entry[:2] for entry in error["entries"]] == [["init yol_vovoruze", SOURCE_FILE]]
    assert result["left"] is False
    assert result["map"] == ["str", "int", "float", "bool", "dict", "list", "eval"]


@pytest.mark.parametrize("name", ["eval", "property", "staticmethod", "TypeError", "super", "KeyError", "open"])
def test_each_builtin_is_needed_by_the_exec_step(tmp_path, name):
    # The import machinery needs some of these names itself, so only the exec step runs without it.
    result = child_report(tmp_path, '''
        import builtins, importlib.util
        spec = importlib.util.find_spec("yol_vovoruze")
        module = importlib.util.module_from_spec(spec)
        saved = getattr(builtins, %r)
        delattr(builtins, %r)
        error = catch(lambda: spec.loader.exec_module(module))
        setattr(builtins, %r, saved)
        error = describe(error)
        sys.modules.pop("yol_vovoruze", None)
        import yol_vovoruze
        report(error=error, fresh=yol_vovoruze is not module, clone=yol_vovoruze._clone_attribute({"k": [1]}))
    ''' % (name, name, name))
    error = result["error"]
    assert error["type"] == "NameError"
    assert error["message"] == "name '%s' is not defined" % name
    assert [entry[:2] for entry in error["entries"]] == [["init yol_vovoruze", SOURCE_FILE]]
    assert result["fresh"] is True
    assert result["clone"] == {"k": [1]}


def test_builtins_are_taken_when_the_module_initialises(tmp_path):
    result = child_report(tmp_path, '''
        import builtins
        saved = builtins.eval, builtins.staticmethod, builtins.property

        def my_eval(source, *args):
            return saved[0](source, *args)

        class MyStatic(staticmethod):
            pass

        class MyProperty(property):
            pass

        builtins.eval, builtins.staticmethod, builtins.property = my_eval, MyStatic, MyProperty
        try:
            import yol_vovoruze
        finally:
            builtins.eval, builtins.staticmethod, builtins.property = saved
        P, D = yol_vovoruze.Parameter, yol_vovoruze.ParameterDirectory
        report(eval=yol_vovoruze._value_cls_map["eval"] is my_eval,
               static=[type(P.__dict__["from_dict"]).__name__, type(D.__dict__["load"]).__name__],
               prop=type(P.__dict__["description"]).__name__)
    ''')
    assert result == {"eval": True, "static": ["MyStatic", "MyStatic"], "prop": "MyProperty"}


def test_import_under_optimisation(tmp_path):
    result = child_report(tmp_path, '''
        import yol_vovoruze
        report(optimize=sys.flags.optimize, names=[n for n in vars(yol_vovoruze) if not n.startswith("__")],
               doc=yol_vovoruze.ParameterBook.clear.__doc__,
               clone=yol_vovoruze._clone_attribute({"a": [1, 2.5, "x"]}))
    ''', "-O")
    assert result["optimize"] == 1
    assert result["names"][-3:] == ["Parameter", "ParameterBook", "ParameterDirectory"]
    assert len(result["names"]) == 17
    assert result["doc"] == _doc("清除本参数文件内所有的参数", ":return None")
    assert result["clone"] == {"a": [1, 2.5, "x"]}
