"""The English reference: docs/reference.md is what tools/reference.py makes of
the stubs, and the stubs document every member that the module has."""
import ast
import importlib.util
import os
import sys
import types

import pytest

import yol_vovoruze as yv

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

pytestmark = pytest.mark.skipif(sys.version_info < (3, 8), reason="the stubs use syntax that needs Python 3.8")


@pytest.fixture(scope="module")
def reference():
    spec = importlib.util.spec_from_file_location("reference", os.path.join(ROOT, "tools", "reference.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_committed_reference_is_the_one_the_stubs_give(reference):
    with open(reference.REFERENCE, encoding="utf8") as handle:
        committed = handle.read()
    assert committed == reference.render(), "docs/reference.md is out of date: run python tools/reference.py"


# What the interpreter puts in a class namespace (copyreg caches __slotnames__
# there once an instance has been copied or pickled).
CLASS_RUNTIME_NAMES = {"__module__", "__qualname__", "__dict__", "__weakref__", "__doc__", "__slotnames__"}


def runtime_members():
    """Qualified names of what the module defines, leaving out the modules and
    typing names it imports for its own use."""
    names = {name for name, value in vars(yv).items()
             if not name.startswith("__") and not isinstance(value, types.ModuleType)
             and getattr(value, "__module__", None) != "typing"}
    for cls in (yv.Parameter, yv.ParameterBook, yv.ParameterDirectory):
        names.update(cls.__name__ + "." + name for name in vars(cls) if name not in CLASS_RUNTIME_NAMES)
    return names


def test_stubs_document_every_member_of_the_module(reference):
    with open(reference.STUBS, encoding="utf8") as handle:
        body = ast.parse(handle.read()).body
    documented = set()
    for name, kind, nodes, _ in reference.documented(body):
        documented.add(name)
        if kind == "class":
            documented.update(name + "." + member for member, _, _, _ in reference.documented(nodes[0].body))
    members = runtime_members()
    assert {"Parameter.get", "ParameterBook.ExtName", "ParameterDirectory.load", "_clone_attribute"} <= members
    assert members - documented == set()


def test_contents_leave_out_private_names(reference):
    text = reference.render()
    contents = text.split("## Contents", 1)[1].split("\n## ", 1)[0]
    for name in ("_value_cls_map", "_clone_attribute", "_backup_books_in_this_directory"):
        assert name not in contents
        assert name + "`\n" in text  # its section is still in the body
    assert "`InvalidNameCharacters`" in contents
