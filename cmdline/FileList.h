// Lists of files for /files_from: one path per line, or NUL-separated
// (find -print0), read as they come, in blocks, into the compact path list.
#pragma once

#include <string>

#include "trim/PathList.h"

// Appends the paths listed in `list` ("-": standard input) to `files`, each
// made absolute against the current directory (ToFullPath), in order. With
// `nulSeparated` the entries end at NUL bytes, otherwise at line feeds ('\n'
// only: a carriage return is part of the name); the last entry needs no
// end. Empty entries are skipped; every other byte, blanks, leading dashes
// and bytes that are no UTF-8 included, belongs to the path. Throws
// my::CException 40250 (the system's text, the list) when the list cannot
// be opened or read; what was appended before stays.
void ReadFileList(const std::string& list, bool nulSeparated, CPathList& files);
