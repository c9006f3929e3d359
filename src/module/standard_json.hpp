// What json.dumps(value, indent=4, ensure_ascii=False) reads of the json
// package, kept as the module body found it, and a cheap test that it is all
// still so: while it is, that call writes the text that the module writes
// itself for values of exact built-in types, and the call can be left out.
//
// The call reads, on every interpreter from 3.6 on:
// - json.dumps: its code and its defaults (all keyword-only; the ones not
//   passed fill in skipkeys, check_circular, allow_nan, cls, separators,
//   default and sort_keys);
// - the name JSONEncoder in the json package, which dumps calls, and that
//   class's namespace: __init__, encode and iterencode run, key_separator,
//   item_separator and default are read from the class, and any attribute
//   added there may take over a slot (__getattribute__, __setattr__,
//   __new__...); its bases, which only another class of the same layout can
//   replace;
// - in json.encoder, the namespace of those methods: encode_basestring,
//   c_make_encoder, _make_iterencode and INFINITY, and the builtins
//   isinstance, str, list, tuple and float, looked up there first and then in
//   the builtins that its __builtins__ names;
// - _make_iterencode's code and defaults (up to 3.12, where the indented text
//   is written in Python), and the namespace of the interpreter's encoder
//   class c_make_encoder (from 3.13 on, where that class writes it; from 3.9
//   on its attributes can be assigned).
// Not read with these options: json._default_encoder (only when every option
// is at its default), encode_basestring_ascii (only with ensure_ascii), and
// the rest of json.encoder's helpers.
#pragma once
#include "module/python.hpp"

// Keeps the state above of the json module that the module body imported
// (standard.json and standard.json_dumps), after checking what can be checked
// of it (the separators, the options of dumps, the string encoder being the
// interpreter's, INFINITY): a json found otherwise, or one whose state cannot
// be watched, is never left out. False only with an interruption raised while
// it was read.
bool keep_json_state();

// 1 while the json module imported with the module would still read what was
// kept, 0 when anything of it has changed, -1 with an interruption raised.
// A few pointer comparisons, unless a watched namespace has changed since the
// last test, when each entry that json reads there is compared again.
int json_state_as_kept();
