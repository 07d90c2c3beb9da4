#include "settings/RegistryStore.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldName(a) == FoldName(b);
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsValidKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxKeyNameBytes &&
           name.find('\\') == std::string_view::npos && !HasLineBreak(name);
}

// Splits a path into its names; false for an invalid path.
bool SplitPath(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (path.empty()) {
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view name = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!IsValidKeyName(name) || names.size() >= kMaxKeyDepth) {
            return false;
        }
        names.push_back(name);
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

void AppendUnit(std::vector<std::uint8_t>& out, std::uint32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

void AppendUtf8Bytes(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::uint32_t UnitAt(const std::uint8_t* data, std::size_t index) {
    return data[2 * index] | (static_cast<std::uint32_t>(data[2 * index + 1]) << 8);
}

// ---- text form: writing ----------------------------------------------------

void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
}

// The text of a REG_SZ whose bytes the quoted form reproduces exactly.
bool QuotableString(const std::vector<std::uint8_t>& data, std::string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    const std::size_t units = data.size() / 2 - 1;
    if (UnitAt(data.data(), units) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = UnitAt(data.data(), i);
        if (u == 0 || u == '\r' || u == '\n') {
            return false;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units) {
                return false;
            }
            const std::uint32_t low = UnitAt(data.data(), i + 1);
            if (low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    text = Utf8FromUtf16Le(data.data(), units * 2);
    return true;
}

void AppendHexList(std::string& out, std::size_t lineStart, const std::vector<std::uint8_t>& data) {
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0xF]);
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (out.size() - lineStart > 76) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

void AppendValue(std::string& out, const RegValue& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out.push_back('@');
    } else {
        out.push_back('"');
        AppendEscaped(out, value.name);
        out.push_back('"');
    }
    out.push_back('=');
    std::string text;
    char buffer[32];
    if (value.type == REG_SZ && QuotableString(value.data, text)) {
        out.push_back('"');
        AppendEscaped(out, text);
        out.push_back('"');
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const std::uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<std::uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(v));
        out += buffer;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        AppendHexList(out, lineStart, value.data);
    }
    out.push_back('\n');
}

void AppendKey(std::string& out, const RegKey& key, const std::string& path) {
    const std::vector<const RegValue*> values = key.Values();
    if (!values.empty() || key.SubKeyCount() == 0) {
        out += '[' + path + "]\n";
        for (const RegValue* value : values) {
            AppendValue(out, *value);
        }
        out.push_back('\n');
    }
    for (const RegKey* sub : key.SubKeys()) {
        AppendKey(out, *sub, path + '\\' + sub->Name());
    }
}

// ---- text form: reading ----------------------------------------------------

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits and nothing else.
bool ParseHexNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) {
            return false;
        }
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return true;
}

// Reads a quoted text starting at text[0] == '"'; `rest` is what follows the
// closing quote.
bool ParseQuoted(std::string_view text, std::string& out, std::string_view& rest) {
    out.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            rest = text.substr(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

bool ParseHexList(std::string_view text, std::vector<std::uint8_t>& data) {
    data.clear();
    text = Trim(text);
    if (text.empty()) {
        return true;
    }
    if (text.back() == ',') {  // tolerated: a list cut after its last comma
        text.remove_suffix(1);
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view token = Trim(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        std::uint32_t byte = 0;
        if (token.size() > 2 || !ParseHexNumber(token, byte)) {
            return false;
        }
        data.push_back(static_cast<std::uint8_t>(byte));
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

enum class DataKind { Bad, Delete, Value };

DataKind ParseData(std::string_view data, RegType& type, std::vector<std::uint8_t>& bytes) {
    if (data == "-") {
        return DataKind::Delete;
    }
    if (!data.empty() && data.front() == '"') {
        std::string text;
        std::string_view rest;
        if (!ParseQuoted(data, text, rest) || !Trim(rest).empty()) {
            return DataKind::Bad;
        }
        type = REG_SZ;
        bytes = Utf16LeFromUtf8(text);
        bytes.push_back(0);
        bytes.push_back(0);
        return DataKind::Value;
    }
    if (StartsWithNoCase(data, "dword:")) {
        std::uint32_t v = 0;
        if (!ParseHexNumber(data.substr(6), v)) {
            return DataKind::Bad;
        }
        type = REG_DWORD;
        bytes = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        return DataKind::Value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        type = REG_BINARY;
        return ParseHexList(data.substr(4), bytes) ? DataKind::Value : DataKind::Bad;
    }
    if (StartsWithNoCase(data, "hex(")) {
        const std::size_t close = data.find("):");
        if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), type)) {
            return DataKind::Bad;
        }
        return ParseHexList(data.substr(close + 2), bytes) ? DataKind::Value : DataKind::Bad;
    }
    return DataKind::Bad;
}

// A line that may continue a hex list: digits, commas and blanks only.
bool IsHexContinuation(std::string_view line) {
    line = Trim(line);
    return !line.empty() && std::all_of(line.begin(), line.end(), [](char c) {
        return HexDigit(c) >= 0 || c == ',' || c == ' ' || c == '\t' || c == '\\';
    });
}

// The text without its byte order mark; UTF-16LE text (FF FE) is decoded
// into `decoded` first.
std::string_view WithoutByteOrderMark(std::string_view raw, std::string& decoded) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        decoded =
            Utf8FromUtf16Le(reinterpret_cast<const std::uint8_t*>(raw.data()) + 2, raw.size() - 2);
        return decoded;
    }
    if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") {
        return raw.substr(3);
    }
    return raw;
}

// Lines split at LF, a CR before it dropped; the text after the last LF is
// a line too.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// One pass over the lines of the text form into `root`: the header, comment
// lines, key lines ("[path]", "[-path]" deletes) and value lines under the
// last key line (a hex list may go on over lines ending in '\').
class RegTextReader {
  public:
    RegTextReader(RegKey& root, std::vector<std::string_view> lines)
        : m_root(root), m_lines(std::move(lines)) {}

    RegParseReport Read() {
        for (m_line = 0; m_line < m_lines.size(); ++m_line) {
            const std::string_view line = Trim(m_lines[m_line]);
            if (line.empty() || IsHeader(line) || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                KeyLine(line);
            } else if (line.front() == '"' || line.front() == '@') {
                ValueLine(line);
            } else {
                Bad(m_line);
            }
        }
        return m_report;
    }

  private:
    // The first non-empty line only.
    bool IsHeader(std::string_view line) {
        if (m_headerSeen) {
            return false;
        }
        m_headerSeen = true;
        m_report.headerOk = line == kRegFileHeader;
        return m_report.headerOk;
    }

    void Bad(std::size_t first) {
        if (m_report.firstBadLine == 0) {
            m_report.firstBadLine = first + 1;
        }
        m_report.badLines += m_line - first + 1;
    }

    void KeyLine(std::string_view line) {
        m_current = nullptr;
        if (line.back() != ']' || line.size() < 3) {
            return Bad(m_line);
        }
        const std::string_view path = line.substr(1, line.size() - 2);
        if (path.front() == '-') {
            // Deleting a key that is not there is no error.
            std::vector<std::string_view> names;
            if (!SplitPath(path.substr(1), names) || names.empty()) {
                return Bad(m_line);
            }
            m_root.DeleteKey(path.substr(1));
            return;
        }
        m_current = m_root.CreateKey(path);
        if (m_current == nullptr) {
            Bad(m_line);
        }
    }

    void ValueLine(std::string_view line) {
        const std::size_t first = m_line;
        std::string name;
        std::string_view rest;
        if (line.front() == '@') {
            rest = line.substr(1);
        } else if (!ParseQuoted(line, name, rest)) {
            return Bad(first);
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != '=') {
            return Bad(first);
        }
        RegType type = REG_NONE;
        std::vector<std::uint8_t> bytes;
        const DataKind kind = ParseData(DataWithContinuations(rest.substr(1)), type, bytes);
        if (kind == DataKind::Bad || m_current == nullptr) {
            Bad(first);
        } else if (kind == DataKind::Delete) {
            m_current->DeleteValue(name);
        } else if (!m_current->SetValue(name, type, std::move(bytes))) {
            Bad(first);
        }
    }

    // The data after '='; a hex list ending in '\' takes the following
    // continuation lines.
    std::string DataWithContinuations(std::string_view afterEquals) {
        std::string data(Trim(afterEquals));
        if (StartsWithNoCase(data, "hex")) {
            while (!data.empty() && data.back() == '\\' && m_line + 1 < m_lines.size() &&
                   IsHexContinuation(m_lines[m_line + 1])) {
                data.pop_back();
                data += Trim(m_lines[++m_line]);
            }
        }
        return data;
    }

    RegKey& m_root;
    std::vector<std::string_view> m_lines;
    std::size_t m_line = 0;
    bool m_headerSeen = false;
    RegKey* m_current = nullptr;
    RegParseReport m_report;
};

}  // namespace

// ---- UTF-16 ----------------------------------------------------------------

std::vector<std::uint8_t> Utf16LeFromUtf8(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned b0 = s[i];
        std::size_t len = 0;
        unsigned lo = 0x80, hi = 0xBF;
        std::uint32_t cp = 0;
        if (b0 < 0x80) {
            AppendUnit(out, b0);
            ++i;
            continue;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            cp = b0 & 0x0F;
            lo = b0 == 0xE0 ? 0xA0 : 0x80;
            hi = b0 == 0xED ? 0x9F : 0xBF;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            cp = b0 & 0x07;
            lo = b0 == 0xF0 ? 0x90 : 0x80;
            hi = b0 == 0xF4 ? 0x8F : 0xBF;
        }
        bool valid = len != 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) {
            const unsigned b = s[i + k];
            valid = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!valid) {
            AppendUnit(out, 0xDC00 + b0);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            AppendUnit(out, cp);
        }
        i += len;
    }
    return out;
}

std::string Utf8FromUtf16Le(const std::uint8_t* data, std::size_t bytes) {
    std::string out;
    const std::size_t units = bytes / 2;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = UnitAt(data, i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = UnitAt(data, i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8Bytes(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - 0xDC00));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8Bytes(out, 0xFFFD);
        } else {
            AppendUtf8Bytes(out, u);
        }
    }
    return out;
}

// ---- RegKey ----------------------------------------------------------------

RegKey* RegKey::SubKey(std::string_view name) {
    const auto it = m_subKeys.find(FoldName(name));
    return it == m_subKeys.end() ? nullptr : it->second.get();
}

const RegKey* RegKey::SubKey(std::string_view name) const {
    return const_cast<RegKey*>(this)->SubKey(name);
}

RegKey* RegKey::CreateSubKey(std::string_view name) {
    if (!IsValidKeyName(name)) {
        return nullptr;
    }
    auto& slot = m_subKeys[FoldName(name)];
    if (!slot) {
        slot = std::make_unique<RegKey>(std::string(name));
    }
    return slot.get();
}

bool RegKey::DeleteSubKey(std::string_view name) {
    return m_subKeys.erase(FoldName(name)) != 0;
}

std::vector<const RegKey*> RegKey::SubKeys() const {
    std::vector<const RegKey*> keys;
    keys.reserve(m_subKeys.size());
    for (const auto& entry : m_subKeys) {
        keys.push_back(entry.second.get());
    }
    return keys;
}

RegKey* RegKey::OpenKey(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names)) {
        return nullptr;
    }
    RegKey* key = this;
    for (std::string_view name : names) {
        key = key->SubKey(name);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

const RegKey* RegKey::OpenKey(std::string_view path) const {
    return const_cast<RegKey*>(this)->OpenKey(path);
}

RegKey* RegKey::CreateKey(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names)) {
        return nullptr;
    }
    RegKey* key = this;
    for (std::string_view name : names) {
        key = key->CreateSubKey(name);
    }
    return key;
}

bool RegKey::DeleteKey(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names) || names.empty()) {
        return false;
    }
    RegKey* parent = this;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        parent = parent->SubKey(names[i]);
        if (parent == nullptr) {
            return false;
        }
    }
    return parent->DeleteSubKey(names.back());
}

const RegValue* RegKey::Value(std::string_view name) const {
    const auto it = m_valueIndex.find(FoldName(name));
    return it == m_valueIndex.end() ? nullptr : &*it->second;
}

std::vector<const RegValue*> RegKey::Values() const {
    std::vector<const RegValue*> values;
    values.reserve(m_values.size());
    for (const RegValue& value : m_values) {
        values.push_back(&value);
    }
    return values;
}

bool RegKey::SetValue(std::string_view name, RegType type, std::vector<std::uint8_t> data) {
    if (HasLineBreak(name)) {
        return false;
    }
    std::string folded = FoldName(name);
    if (const auto it = m_valueIndex.find(folded); it != m_valueIndex.end()) {
        it->second->type = type;
        it->second->data = std::move(data);
        return true;
    }
    m_values.push_back(RegValue{std::string(name), type, std::move(data)});
    try {
        m_valueIndex.emplace(std::move(folded), std::prev(m_values.end()));
    } catch (...) {
        m_values.pop_back();
        throw;
    }
    return true;
}

bool RegKey::DeleteValue(std::string_view name) {
    const auto it = m_valueIndex.find(FoldName(name));
    if (it == m_valueIndex.end()) {
        return false;
    }
    m_values.erase(it->second);
    m_valueIndex.erase(it);
    return true;
}

bool RegKey::QueryDword(std::string_view name, std::uint32_t& value) const {
    const RegValue* v = Value(name);
    if (v == nullptr || v->type != REG_DWORD || v->data.size() != 4) {
        return false;
    }
    value = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) |
            (static_cast<std::uint32_t>(v->data[3]) << 24);
    return true;
}

bool RegKey::SetDword(std::string_view name, std::uint32_t value) {
    return SetValue(
        name, REG_DWORD,
        {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

bool RegKey::SetString(std::string_view name, std::string_view text, RegType type) {
    std::vector<std::uint8_t> data = Utf16LeFromUtf8(text);
    data.push_back(0);
    data.push_back(0);
    return SetValue(name, type, std::move(data));
}

// ---- CRegistryStore --------------------------------------------------------

RegKey& CRegistryStore::CurrentUser() {
    return *m_root.CreateSubKey(kCurrentUserHive);
}

std::string CRegistryStore::Format() const {
    std::string out(kRegFileHeader);
    out += "\n\n";
    for (const RegKey* hive : m_root.SubKeys()) {
        AppendKey(out, *hive, hive->Name());
    }
    return out;
}

RegParseReport CRegistryStore::Parse(std::string_view raw) {
    std::string decoded;
    return RegTextReader(m_root, SplitLines(WithoutByteOrderMark(raw, decoded))).Read();
}
