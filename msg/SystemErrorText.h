// Texts of system error codes and HRESULTs, in the interface language.
#pragma once

#include <cstdint>
#include <string>

// The text of a result code, trimmed of white space at both ends:
// - a code whose bits (code & 0x1FFF0000) equal 0x00080000 is looked up by
//   its low 16 bits; a plain Windows error number (1 to 0xFFFF) reads as
//   0x8007xxxx;
// - codes the program produces have their own text in both languages;
// - another 0x8007xxxx code whose number maps back to an errno value gets
//   that value's strerror text (the C library's wording);
// - anything else: "Unknown HRESULT: " and the code as passed, lower-case
//   hexadecimal without prefix or leading zeros ("Unknown HRESULT: 8badf00d").
std::string SystemErrorText(std::uint32_t code);
