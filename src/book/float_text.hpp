// The text of float.__repr__ for a finite double, made without the interpreter.
#pragma once

#include <cstddef>

// The longest such text: a sign, 17 digits, a point, "e-" and three digits.
constexpr std::size_t longest_float_text = 32;

// Writes repr(x) of a finite `x` to `text` (not terminated) and returns its
// length, or 0 where the C++ library cannot make the shortest digits (the
// caller then asks the interpreter).
std::size_t finite_float_text(double x, char (&text)[longest_float_text]);
