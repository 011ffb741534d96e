#pragma once

#include <string>

// Names a parameterised test case after its row's name field, so listings and filters show
// the row's meaning instead of its bytes.
inline constexpr auto RowName = [](const auto &row) { return std::string(row.param.name); };
