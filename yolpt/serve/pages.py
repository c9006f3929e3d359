"""The HTML of the pages: the tree with its values, and the check view.
Everything is rendered here, so that the pages read without JavaScript; the
script only adds the editing."""
import html
import math
import os
import re
import string
from typing import Any, Dict, List, Optional, Sequence, Tuple, cast

from yol_vovoruze import Parameter

from yolpt import findings as finding_kinds
from yolpt.output import plural
from yolpt.serve.store import BookView, FolderView, editor_text, json_text
from yolpt.value_types import type_of

_HERE = os.path.dirname(os.path.abspath(__file__))

# A list of objects with these keys or fewer, all the same, shows as a table.
WIDEST_TABLE = 8


def _template() -> string.Template:
    with open(os.path.join(_HERE, "page.html"), encoding="utf-8") as handle:
        return string.Template(handle.read())


def page(title: str, folder: str, body: str, token: str, here: str, note: str = "") -> str:
    links = "".join('<a href="%s"%s>%s</a>' % (href, ' aria-current="page"' if href == here else "", text)
                    for href, text in (("/", "Tree"), ("/check", "Check")))
    return _template().substitute(title=escape(title), folder=escape(folder), token=escape(token), links=links,
                                  note=note, body=body)


def escape(text: object) -> str:
    return html.escape(str(text), quote=True)


# ------------------------------------------------------------------ languages


def accepted_languages(header: Optional[str]) -> List[str]:
    """The languages of an Accept-Language header, most wanted first, as
    descriptions name them (de-de becomes de_DE)."""
    ranked: List[Tuple[float, int, str]] = []
    for index, part in enumerate((header or "").split(",")):
        pieces = part.strip().split(";")
        tag = pieces[0].strip()
        quality = 1.0
        for parameter in pieces[1:]:
            key, _, value = parameter.strip().partition("=")
            if key.strip().lower() == "q":
                try:
                    quality = float(value)
                except ValueError:
                    quality = 0.0
        if tag and tag != "*" and re.match(r"\A[A-Za-z0-9_-]{1,35}\Z", tag) and quality > 0 and math.isfinite(quality):
            ranked.append((-quality, index, tag))
    return [_as_locale(tag) for _, _, tag in sorted(ranked)]


def _as_locale(tag: str) -> str:
    parts = re.split("[-_]", tag)
    return "_".join([parts[0].lower()] + [part.upper() if len(part) == 2 else part for part in parts[1:]])


def choose_language(languages: Sequence[str], wanted: Sequence[str]) -> str:
    """The language of a description to show: the first wanted one that it
    has (de_DE), else one of the same language (de for de_AT, de_CH for de),
    else "default"."""
    own = [language for language in languages if language != "default"]
    folded = {language.lower().replace("-", "_"): language for language in own}
    for tag in wanted:
        tag = tag.lower()
        primary = tag.split("_")[0]
        for key in (tag, primary):
            if key in folded:
                return folded[key]
        same = sorted(language for key, language in folded.items() if key.split("_")[0] == primary)
        if same:
            return same[0]
    return "default"


# ---------------------------------------------------------------------- values


def value_html(value: Any) -> str:
    """A value as what it is: a number, a text, true or false, a list, a table."""
    kind = type_of(value)
    if kind == "boolean":
        return '<span class="v v-boolean">%s</span>' % ("true" if value else "false")
    if kind in ("integer", "float"):
        return '<span class="v v-%s">%s</span>' % (kind, escape(json_text(value)))
    if kind == "string":
        return '<span class="v v-string">%s</span>' % escape(value)
    if kind == "array":
        if not value:
            return '<span class="v v-empty">[ ]</span>'
        table = _records(value)
        if table is not None:
            head = "".join("<th>%s</th>" % escape(key) for key in table)
            rows = "".join("<tr>%s</tr>" % "".join("<td>%s</td>" % value_html(item[key]) for key in table)
                           for item in value)
            return '<table class="v v-records"><thead><tr>%s</tr></thead><tbody>%s</tbody></table>' % (head, rows)
        return '<ol class="v v-array">%s</ol>' % "".join("<li>%s</li>" % value_html(item) for item in value)
    if kind == "object":
        if not value:
            return '<span class="v v-empty">{ }</span>'
        rows = "".join('<tr><th scope="row">%s</th><td>%s</td></tr>' % (escape(key), value_html(item))
                       for key, item in value.items())
        return '<table class="v v-object"><tbody>%s</tbody></table>' % rows
    return '<span class="v">%s</span>' % escape(repr(value))


def _records(items: List[Any]) -> Optional[List[str]]:
    """The keys of a list of objects that all have the same ones, or None."""
    keys = _keys(items[0])
    if not keys or len(keys) > WIDEST_TABLE or any(_keys(item) != keys for item in items):
        return None
    return keys


def _keys(value: Any) -> Optional[List[str]]:
    return list(cast(Dict[str, Any], value)) if isinstance(value, dict) else None


# ------------------------------------------------------------------------ tree


def tree_html(top: FolderView, wanted: Sequence[str]) -> str:
    return '<div class="tree">%s</div>' % _folder_html(top, wanted, top=True)


def _folder_html(folder: FolderView, wanted: Sequence[str], top: bool = False) -> str:
    parts: List[str] = []
    if folder.problem:
        parts.append('<p class="problem">%s</p>' % escape(folder.problem))
    parts += [book_html(book, wanted) for book in folder.books]
    parts += [_folder_html(sub, wanted) for sub in folder.folders]
    if not folder.books and not folder.folders and not folder.problem:
        parts.append('<p class="empty">(empty)</p>')
    if top:
        return "".join(parts)
    return ('<details class="folder" open><summary><span class="folder-name">%s/</span></summary>%s</details>'
            % (escape(folder.name), "".join(parts)))


def book_html(view: BookView, wanted: Sequence[str]) -> str:
    """One book's section, which the page replaces whole after a save."""
    editable = view.inside and view.book is not None
    head = ('<h2><span class="book-name">%s</span> <span class="file">%s</span>%s</h2>'
            % (escape(view.address.rpartition("/")[2]), escape(os.path.basename(view.path)),
               "" if view.inside else ' <span class="badge">outside the folder: read only</span>'))
    if view.book is None:
        body = '<p class="problem">does not load: %s</p>' % escape(view.problem)
    elif not view.book.names():
        body = '<p class="empty">(no parameters)</p>'
    else:
        body = "".join(_parameter_html(name, parameter, wanted, editable) for name, parameter in view.book.items())
    return ('<section class="book" id="%s" data-book="%s" data-version="%s"%s>%s%s</section>'
            % (escape("book:" + view.address), escape(view.address), escape(view.version),
               ' data-editable="1"' if editable else "", head, body))


def _parameter_html(name: str, parameter: Parameter, wanted: Sequence[str], editable: bool) -> str:
    descriptions = parameter.all_descriptions()
    language = choose_language([str(key) for key in descriptions], wanted)
    text = descriptions.get(language)
    others = "\n".join("%s: %s" % (key, value) for key, value in descriptions.items())
    description = ""
    if isinstance(text, str):
        tag = "" if language == "default" else ' lang="%s"' % escape(language.replace("_", "-"))
        description = ('<p class="description" title="%s"><span%s>%s</span> <span class="language">%s</span></p>'
                       % (escape(others), tag, escape(text), escape(language)))
    rows = "".join(_attribute_html(attribute, value, editable) for attribute, value in parameter.items())
    table = ('<table class="attributes"><tbody>%s</tbody></table>' % rows if rows
             else '<p class="empty">(no attributes)</p>')
    return ('<div class="parameter" data-parameter="%s"><h3>%s</h3>%s%s</div>'
            % (escape(name), escape(name), description, table))


def _attribute_html(name: str, value: Any, editable: bool) -> str:
    kind = type_of(value) or "?"
    button = ('<button type="button" class="edit" aria-label="Edit %s">Edit</button>' % escape(name)
              if editable else "")
    return ('<tr class="attribute" data-attribute="%s" data-type="%s" data-text="%s">'
            '<th scope="row">%s</th><td class="value">%s</td><td class="type">%s</td><td class="actions">%s</td></tr>'
            % (escape(name), escape(kind), escape(editor_text(value)), escape(name), value_html(value), escape(kind),
               button))


# ----------------------------------------------------------------------- check


def check_html(root: str, found: List[finding_kinds.Finding]) -> str:
    faults = sum(finding.fault for finding in found)
    if not found:
        return '<p class="clean">Clean: nothing that <code>yolpt check</code> reports.</p>'
    told = plural(faults, "problem")
    if len(found) > faults:
        told += ", " + plural(len(found) - faults, "note")
    rows = "".join('<tr class="%s"><td>%s</td><td>%s</td><td>%s</td></tr>'
                   % ("fault" if finding.fault else "note", escape(_below(root, finding.path)),
                      escape(finding.kind if finding.fault else "note: " + finding.kind), escape(finding.detail))
                   for finding in found)
    return ('<p class="%s">%s</p><table class="findings"><thead><tr><th>Where</th><th>What</th><th>Details</th></tr>'
            '</thead><tbody>%s</tbody></table>' % ("problems" if faults else "clean", escape(told), rows))


def _below(root: str, path: str) -> str:
    shown = os.path.relpath(path, root)
    return "(the folder)" if shown == os.curdir else shown
