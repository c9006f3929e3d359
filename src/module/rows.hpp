// A constant array seen through its first row and its count, the count
// taken from the array's type: a table is declared once, as an array, and
// handed on without a count written beside it.
#pragma once
#include <cstddef>

template <typename Row>
struct Rows {
    constexpr Rows() = default;
    template <std::size_t N>
    constexpr Rows(const Row (&rows)[N]) : first(rows), count(N) {}

    constexpr const Row *begin() const { return first; }
    constexpr const Row *end() const { return first + count; }

    const Row *first = nullptr;
    std::size_t count = 0;
};
