"""Writes docs/reference.md, the English reference of yol_vovoruze, from the
signatures and docstrings of the stubs (yol_vovoruze-stubs/__init__.pyi).

    python tools/reference.py           # rewrites docs/reference.md
    python tools/reference.py --check   # exits 1 when docs/reference.md differs

Every class, function, constant and alias of the stubs that has a docstring is
listed, in the order of the stubs; the Contents leave out private names (those
that start with "_", other than dunders), whose sections stay in the body. Docstring sections in the style
"Args:" / "Returns:" / "Raises:" / "Warns:" become lists. Needs Python 3.8 or
later (the stubs use positional-only parameters).
"""
import argparse
import ast
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STUBS = os.path.join(ROOT, "yol_vovoruze-stubs", "__init__.pyi")
REFERENCE = os.path.join(ROOT, "docs", "reference.md")

SECTION = re.compile(r"^(Args|Returns|Raises|Warns):$")
ENTRY = re.compile(r"^    (\*{0,2}[\w.]+): ?(.*)$")
SECTION_TITLES = {"Args": "Arguments", "Returns": "Returns", "Raises": "Raises", "Warns": "Warns"}


def docstring_markdown(text):
    """Markdown of a docstring: plain lines stay, sections become lists."""
    out, section = [], None
    for line in text.splitlines():
        match = SECTION.match(line)
        if match:
            section = match.group(1)
            while out and out[-1] == "":
                out.pop()
            out += ["", "**{}**".format(SECTION_TITLES[section]), ""]
        elif section and line.startswith("    "):
            entry = ENTRY.match(line)
            if section != "Returns" and entry and not line.startswith("     "):
                out.append("- `{}`: {}".format(entry.group(1), entry.group(2)))
            elif out[-1] == "":
                out.append(line.strip())
            else:
                out[-1] += " " + line.strip()
        else:
            section = None
            out.append(line)
    return "\n".join(out).strip() + "\n"


def source_of(source, node, end):
    """The text of `source` from the start of `node` to the end of `end`, on one line."""
    lines = source.splitlines()
    first, last = node.lineno - 1, end.end_lineno - 1
    if first == last:
        text = lines[first][node.col_offset:end.end_col_offset]
    else:
        text = " ".join([lines[first][node.col_offset:]] + [line.strip() for line in lines[first + 1:last]]
                        + [lines[last][:end.end_col_offset].strip()])
    text = re.sub(r"\s+", " ", text)
    return re.sub(r"([\[(]) ", r"\1", re.sub(r",? ([\])])", r"\1", text))


def decorators(source, node):
    return [ast.get_source_segment(source, item) for item in node.decorator_list]


def signature(source, node):
    """The `def` line of a function with its decorators, as the stubs write it."""
    lines = ["@" + name for name in decorators(source, node)]
    lines.append(source_of(source, node, node.returns) + ": ...")
    return "\n".join(lines)


def documented(body):
    """(name, kind, nodes, docstring) for each documented statement of a body, in order.

    An assignment is documented by the string literal that follows it;
    overloads of one function are grouped, documented by the first docstring."""
    found = []
    for index, node in enumerate(body):
        if isinstance(node, (ast.AnnAssign, ast.Assign)):
            following = body[index + 1] if index + 1 < len(body) else None
            if isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant) \
                    and isinstance(following.value.value, str):
                target = node.target if isinstance(node, ast.AnnAssign) else node.targets[0]
                found.append([target.id, "name", [node], ast.get_docstring(ast.Module(body=[following]))])
        elif isinstance(node, ast.FunctionDef):
            if found and found[-1][0] == node.name and found[-1][1] == "function":
                found[-1][2].append(node)
                found[-1][3] = found[-1][3] or ast.get_docstring(node)
            else:
                found.append([node.name, "function", [node], ast.get_docstring(node)])
        elif isinstance(node, ast.ClassDef):
            found.append([node.name, "class", [node], ast.get_docstring(node)])
    return [entry for entry in found if entry[3]]


def code_block(text):
    return "```python\n{}\n```\n".format(text)


def assignment_text(source, node):
    return source_of(source, node, node.value if node.value is not None else node.annotation)


def listed(name):
    """Whether the Contents list `name`: private names (a leading "_", not a
    dunder) keep their sections in the body but stay out of the Contents."""
    return not name.startswith("_") or (name.startswith("__") and name.endswith("__"))


def render(stubs=STUBS):
    """The reference as Markdown text."""
    with open(stubs, encoding="utf8") as handle:
        source = handle.read()
    tree = ast.parse(source)
    entries = documented(tree.body)
    kinds = {"aliases": [], "module": [], "classes": []}
    for name, kind, nodes, doc in entries:
        node = nodes[0]
        if kind == "class":
            kinds["aliases" if "type_check_only" in decorators(source, node) else "classes"].append((name, nodes, doc))
        elif kind == "name" and "TypeAlias" in ast.get_source_segment(source, node.annotation or node):
            kinds["aliases"].append((name, nodes, doc))
        else:
            kinds["module"].append((name, nodes, doc))

    out = ["# yol_vovoruze reference", "",
           "<!-- Generated by tools/reference.py from yol_vovoruze-stubs/__init__.pyi; edit those and run it. -->",
           "", docstring_markdown(ast.get_docstring(tree)), "## Contents", ""]
    out.append("- [Types for annotations](#types-for-annotations): "
               + ", ".join("`{}`".format(name) for name, _, _ in kinds["aliases"] if listed(name)))
    out.append("- [Module constants and functions](#module-constants-and-functions): "
               + ", ".join("`{}`".format(name) for name, _, _ in kinds["module"] if listed(name)))
    for name, _, _ in kinds["classes"]:
        if listed(name):
            out.append("- [`{0}`](#{1})".format(name, name.lower()))
    out.append("")

    out += ["## Types for annotations", "",
            "These names exist for type checkers only: import them under `typing.TYPE_CHECKING`.", ""]
    for name, nodes, doc in kinds["aliases"]:
        node = nodes[0]
        text = "class {}(TypedDict): ...".format(name) if isinstance(node, ast.ClassDef) \
            else assignment_text(source, node)
        out += ["### `{}`".format(name), "", code_block(text), docstring_markdown(doc)]

    out += ["## Module constants and functions", ""]
    for name, nodes, doc in kinds["module"]:
        node = nodes[0]
        text = signature(source, node) if isinstance(node, ast.FunctionDef) else assignment_text(source, node)
        out += ["### `{}`".format(name), "", code_block(text), docstring_markdown(doc)]

    for name, nodes, doc in kinds["classes"]:
        out += ["## `{}`".format(name), "", code_block("class {}: ...".format(name)), docstring_markdown(doc)]
        for member, kind, member_nodes, member_doc in documented(nodes[0].body):
            if kind == "function":
                text = "\n".join(signature(source, node) for node in member_nodes)
            else:
                text = assignment_text(source, member_nodes[0])
            out += ["### `{}.{}`".format(name, member), "", code_block(text), docstring_markdown(member_doc)]
    return "\n".join(out).rstrip("\n") + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="only compare with docs/reference.md")
    arguments = parser.parse_args()
    text = render()
    if arguments.check:
        with open(REFERENCE, encoding="utf8") as handle:
            same = handle.read() == text
        print("docs/reference.md is " + ("up to date" if same else "out of date: run python tools/reference.py"))
        return 0 if same else 1
    os.makedirs(os.path.dirname(REFERENCE), exist_ok=True)
    with open(REFERENCE, "w", encoding="utf8", newline="\n") as handle:
        handle.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
