// Named string ids: one constant per entry of the English string table
// (res/StringTable.en.inc), with the entry's id. The table is the one source:
// a name is added, changed or removed there, never here.
#pragma once

#include <cstdint>

#define QV_STRING(name, id, text) inline constexpr std::uint32_t name = id;
#include "res/StringTable.en.inc"
#undef QV_STRING
