// The typed per-user store: an in-memory tree of keys holding typed values,
// read from and written to the registry's text export format
// ("Windows Registry Editor Version 5.00").
//
// Names: key and value names compare case-insensitively for the ASCII
// letters (every other character exactly) and keep the case they were first
// written with. A key name is 1 to 255 bytes without '\', CR or LF; a value
// name may hold any character but CR and LF, '\' included; the empty value
// name is the key's default value ("@" in the text). Paths are key names
// joined by '\'.
//
// Values keep their raw bytes as the registry does: strings are UTF-16LE
// with a terminating null code unit inside the data, a REG_DWORD is 4 bytes
// little-endian, and any data may sit under any type (a string without its
// terminator, a 2-byte REG_DWORD, an unknown type number).
//
// Text form, one item per line (LF or CRLF, UTF-8 with an optional BOM, or
// UTF-16LE with its BOM; ';' starts a comment line):
//   Windows Registry Editor Version 5.00
//   [HKEY_CURRENT_USER\Software\Maker]          a key (created with its parents)
//   [-HKEY_CURRENT_USER\Software\Old]           deletes a key and its subtree
//   "Name"="text"   @="text"                    REG_SZ (escapes \" and \\)
//   "Name"=dword:0000000a                       REG_DWORD of 4 bytes
//   "Name"=hex:01,02   "Name"=hex(2):41,00,00,00   other types, raw bytes
//   "Name"=-                                    deletes the value
// A hex list may go on over further lines, each line but the last ending in
// '\'. The top-level key names (the hives, e.g. HKEY_CURRENT_USER) are
// ordinary keys of the store's root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using RegType = std::uint32_t;
constexpr RegType REG_NONE = 0;
constexpr RegType REG_SZ = 1;
constexpr RegType REG_EXPAND_SZ = 2;
constexpr RegType REG_BINARY = 3;
constexpr RegType REG_DWORD = 4;
constexpr RegType REG_MULTI_SZ = 7;
constexpr RegType REG_QWORD = 11;

// The hive the program's settings live in.
inline constexpr std::string_view kCurrentUserHive = "HKEY_CURRENT_USER";
inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

// Deepest key path the store accepts (keys below the root, hive included).
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxKeyNameBytes = 255;

struct RegValue {
    std::string name;  // as first written; "" for the default value
    RegType type = REG_NONE;
    std::vector<std::uint8_t> data;
};

class RegKey {
  public:
    explicit RegKey(std::string name) : m_name(std::move(name)) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    const std::string& Name() const { return m_name; }

    // --- subkeys (one level) ---
    // Null when there is no such subkey.
    RegKey* SubKey(std::string_view name);
    const RegKey* SubKey(std::string_view name) const;
    // Opens or creates; null when the name is not a valid key name.
    RegKey* CreateSubKey(std::string_view name);
    // Deletes the subkey with its whole subtree; false when there was none.
    bool DeleteSubKey(std::string_view name);
    // The subkeys in the order of their names compared case-insensitively.
    std::vector<const RegKey*> SubKeys() const;
    std::size_t SubKeyCount() const { return m_subKeys.size(); }

    // --- paths below this key ("" is this key; empty components, a leading
    // or trailing '\' make the path invalid) ---
    RegKey* OpenKey(std::string_view path);
    const RegKey* OpenKey(std::string_view path) const;
    // Opens or creates the key and its missing parents; null for an invalid
    // path or one deeper than kMaxKeyDepth below the store's root (counted
    // from this key, so a caller below the root has less room).
    RegKey* CreateKey(std::string_view path);
    // Deletes the key at the path with its subtree; false when it does not
    // exist or the path is "".
    bool DeleteKey(std::string_view path);

    // --- values (found, set and deleted in constant time, so that reading
    // a file is linear in its size however many values a key holds) ---
    const RegValue* Value(std::string_view name) const;
    // In the order they were first set.
    std::vector<const RegValue*> Values() const;
    // Sets type and data; a new value goes last, an existing one keeps its
    // place and the case of its name. False (nothing set) for a name holding
    // CR or LF, which the text form cannot carry.
    bool SetValue(std::string_view name, RegType type, std::vector<std::uint8_t> data);
    bool DeleteValue(std::string_view name);

    // A REG_DWORD of exactly 4 bytes; false (value untouched) otherwise.
    bool QueryDword(std::string_view name, std::uint32_t& value) const;
    bool SetDword(std::string_view name, std::uint32_t value);
    // A string as REG_SZ (or REG_EXPAND_SZ): UTF-16LE of the UTF-8 text plus
    // the terminating null, (length + 1) x 2 bytes.
    bool SetString(std::string_view name, std::string_view text, RegType type = REG_SZ);

  private:
    std::string m_name;
    std::list<RegValue> m_values;
    // Keyed by the ASCII-lower-cased name.
    std::unordered_map<std::string, std::list<RegValue>::iterator> m_valueIndex;
    // Keyed by the ASCII-lower-cased name, so the map's order is the
    // case-insensitive order.
    std::map<std::string, std::unique_ptr<RegKey>> m_subKeys;
};

// What the text parser met.
struct RegParseReport {
    bool headerOk = false;         // first non-empty line is kRegFileHeader
    std::size_t badLines = 0;      // lines skipped (a key line and its values count each)
    std::size_t firstBadLine = 0;  // 1-based line number, 0 when none
    bool Clean() const { return headerOk && badLines == 0; }
};

class CRegistryStore {
  public:
    CRegistryStore() : m_root("") {}

    // The unnamed root; its subkeys are the hives.
    RegKey& Root() { return m_root; }
    const RegKey& Root() const { return m_root; }
    // The HKEY_CURRENT_USER key, created when missing.
    RegKey& CurrentUser();

    // Reads the text form into this store, merged with what it holds (a later
    // value of the same name replaces an earlier one). Never throws for bad
    // text: a line that does not parse is skipped and counted, and so are the
    // value lines under a bad key line.
    RegParseReport Parse(std::string_view text);

    // The text form: the header, a blank line, then every key that has values
    // or no subkeys (the others are implied by their descendants) as "[path]",
    // its values, a blank line. LF line ends, UTF-8 without BOM. A REG_SZ is
    // written as "text" only when it reads back to the same bytes (one
    // terminating null, no other null, no CR or LF, valid UTF-16); a 4-byte
    // REG_DWORD as dword:; everything else as hex or hex(type) lists wrapped
    // at about 80 columns.
    std::string Format() const;

  private:
    RegKey m_root;
};

// UTF-8 to UTF-16LE bytes (no terminator). A byte that starts no valid UTF-8
// sequence becomes the lone surrogate U+DC00 + byte, so any byte string
// (e.g. a file name that is not UTF-8) survives the way back.
std::vector<std::uint8_t> Utf16LeFromUtf8(std::string_view text);
// UTF-16LE code units to UTF-8; a lone surrogate U+DC80..U+DCFF becomes the
// byte it escapes, any other lone surrogate U+FFFD. An odd last byte is
// ignored.
std::string Utf8FromUtf16Le(const std::uint8_t* data, std::size_t bytes);
