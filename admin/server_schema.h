#pragma once

#include <string_view>

namespace korvela::admin {

// data/schema-postgresql.sql as it was when the program was built.
std::string_view serverSchema();

} // namespace korvela::admin
