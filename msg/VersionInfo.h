// CVersionInfo: the reader of a module's version information block, the
// product version and legal notice a program carries.
//
// A block is text, one value per line, "key=value", keys as their query
// paths: "\VarFileInfo\Translation" lists the translations as pairs of
// four-digit hexadecimal numbers (language and code page, "0409 04b0 0411
// 04b0"); "\StringFileInfo\<language><code page>\<Name>" holds a string
// value of one translation ("\StringFileInfo\041104b0\ProductVersion").
// Blank lines are ignored.
//
// Failures throw my::CException; the module path is the last argument of
// each message:
//   58740 (system text, path)  the module has no version information
//   58741 (system text, path)  its block cannot be read (a line without '=',
//                              a malformed translation list)
//   58742 (query, path)        GetString: no translation has the value;
//                              query is prefix + "[ALL_TRANSLATES]" + suffix
//   58743 (query, path)        GetString: no translation is listed
//   58744 (version, path)      GetVersionNumbers: not four numbers of 0..65535
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CVersionInfo {
  public:
    // Reads `block`, the version information of the module at `modulePath`;
    // null means the module has none.
    void Load(const std::string& modulePath, const char* block);

    // The first non-empty value of prefix + translation + suffix over the
    // translations in their order; translation is language and code page as
    // two four-digit lower-case hexadecimal numbers ("040904b0").
    std::string GetString(std::string_view prefix, std::string_view suffix) const;

    // The ProductVersion string split at every '.' or ',', each part trimmed
    // of white space: major, minor, build, revision ("1, 2, 9, 0").
    std::array<std::uint16_t, 4> GetVersionNumbers() const;

  private:
    std::string m_modulePath;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> m_translations;
    std::map<std::string, std::string, std::less<>> m_values;
};
