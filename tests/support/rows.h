// The rows of a parameterized test table: a row with a name field shows by it in messages and
// names its test. In the including file's own unnamed namespace, where its rows are declared;
// the constraint makes this PrintTo preferred to GoogleTest's own.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

template <typename Row> std::string NameOfRow(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

} // namespace
