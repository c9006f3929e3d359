// What json.loads(text) reads of the json package for a str `text`, kept as
// the module body found it, and a cheap test that it is all still so: while
// it is, that call gives what the standard decoder makes of the text (strict,
// no hooks, int and float), and the call can be left out.
//
// The call reads, on every interpreter from 3.6 on:
// - json.loads: its code and its defaults (all keyword-only, all None);
// - in the json package, _default_decoder and the builtins isinstance and
//   str (looked up there first);
// - that decoder's decode, raw_decode and scan_once, found through its class
//   JSONDecoder (whose namespace and bases are kept) and its own attributes;
//   the code and defaults of decode and raw_decode, and in their namespace
//   (json.decoder) the builtin len;
// - the interpreter's scanner (the class c_make_scanner, whose namespace is
//   kept), made by the decoder with its options, which it cannot change
//   afterwards; the float objects that its parse_constant gives for NaN,
//   Infinity and -Infinity (json.decoder._CONSTANTS, a dict that is kept, or
//   an immutable mapping).
// Errors read more (JSONDecodeError...): a text that json refuses is always
// left to it.
#pragma once
#include "module/python.hpp"

// What the standard decoder gives for NaN, Infinity and -Infinity: the same
// three objects every time (borrowed).
struct DecoderConstants {
    PyObject *nan = nullptr, *infinity = nullptr, *negative_infinity = nullptr;
};

// Keeps the state above of the json module that the module body imported
// (standard.json), after checking what can be checked of it: a json found
// otherwise, or one whose state cannot be watched, is never left out. False
// only with an interruption raised while it was read.
bool keep_json_loads_state();

// 1 while json.loads, in the json module imported with the module, would
// still read what was kept (and `constants` holds what its decoder gives for
// the constants), 0 when anything of it has changed, -1 with an interruption
// raised.
int json_loads_as_kept(DecoderConstants &constants);
