#include "settings/SettingsStore.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "msg/Format.h"
#include "msg/MessageIds.h"

namespace {

bool ReadLong(const RegKey& key, std::string_view name, LONG& field) {
    std::uint32_t value = 0;
    if (!key.QueryDword(name, value)) {
        return false;
    }
    field = static_cast<LONG>(value);
    return true;
}

bool ReadDword(const RegKey& key, std::string_view name, DWORD& field) {
    return key.QueryDword(name, field);
}

bool WriteLong(RegKey& key, std::string_view name, LONG value) {
    return key.SetDword(name, static_cast<std::uint32_t>(value));
}

std::string HistoryIndexName(std::size_t index) {
    char name[24];
    std::snprintf(name, sizeof name, "%02zu", index);
    return name;
}

std::string SettingPath() {
    return ProductKeyPath() + "\\Setting";
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

std::string ProductKeyPath() {
    return "Software\\" + ResString(kStrMakerName) + "\\" + ResString(kStrProductKeyName);
}

std::string SettingsFilePath() {
    const char* explicitPath = std::getenv("QUORVEL_REGISTRY");
    if (explicitPath != nullptr && *explicitPath != '\0') {
        return explicitPath;
    }
    std::string configHome;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) {
            return {};
        }
        configHome = home + "/.config";
    }
    return configHome + "/" + ResString(kStrMakerName) + "/" + ResString(kStrProductKeyName) +
           ".reg";
}

// ---- building blocks -------------------------------------------------------

bool ReadStringValue(const RegKey& key, std::string_view name, std::string& text) {
    const RegValue* value = key.Value(name);
    if (value == nullptr || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
        return false;
    }
    const std::vector<std::uint8_t>& data = value->data;
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 2] != 0 ||
        data[data.size() - 1] != 0) {
        return false;
    }
    std::size_t bytes = 0;
    while (data[bytes] != 0 || data[bytes + 1] != 0) {
        bytes += 2;
    }
    text = Utf8FromUtf16Le(data.data(), bytes);
    return true;
}

bool ReadDwordPair(const RegKey& key, std::string_view prefix, SIZE& size) {
    LONG cx = 0, cy = 0;
    const std::string name(prefix);
    if (!ReadLong(key, name + "Cx", cx) || !ReadLong(key, name + "Cy", cy)) {
        return false;
    }
    size = SIZE{cx, cy};
    return true;
}

bool WriteDwordPair(RegKey& key, std::string_view prefix, SIZE size) {
    const std::string name(prefix);
    const bool cx = WriteLong(key, name + "Cx", size.cx);
    const bool cy = WriteLong(key, name + "Cy", size.cy);
    return cx && cy;
}

bool LoadScalars(const RegKey& settingKey, AppSettings& settings) {
    bool ok = ReadLong(settingKey, "SaveType", settings.SaveType);
    ok &= ReadLong(settingKey, "JpegQuality", settings.JpegQuality);
    ok &= ReadLong(settingKey, "TiffCompression", settings.TiffCompression);
    ok &= ReadLong(settingKey, "SizeToOutputAdd", settings.SizeToOutputAdd);
    ok &= ReadLong(settingKey, "ThreadCount", settings.ThreadCount);
    return ok;
}

bool SaveScalars(RegKey& settingKey, const AppSettings& settings) {
    bool ok = WriteLong(settingKey, "SaveType", settings.SaveType);
    ok &= WriteLong(settingKey, "JpegQuality", settings.JpegQuality);
    ok &= WriteLong(settingKey, "TiffCompression", settings.TiffCompression);
    ok &= WriteLong(settingKey, "SizeToOutputAdd", settings.SizeToOutputAdd);
    ok &= WriteLong(settingKey, "ThreadCount", settings.ThreadCount);
    return ok;
}

bool LoadAutoTrimParams(const RegKey& root, std::string_view path, AutoTrimParams& params) {
    const RegKey* key = root.OpenKey(path);
    if (key == nullptr) {
        return false;
    }
    bool ok = ReadDword(*key, "EdgeType", params.EdgeType);
    ok &= ReadDword(*key, "SpaceType", params.SpaceType);
    // Only a real 4-byte REG_DWORD reaches Flags: copying the first bytes of
    // a value of another type would set arbitrary option bits.
    ok &= ReadDword(*key, "Flags", params.Flags);
    ok &= ReadDwordPair(*key, "Output", params.Output);
    ok &= ReadDwordPair(*key, "Trim", params.Trim);
    ok &= ReadLong(*key, "MedianCount", params.MedianCount);
    ok &= ReadLong(*key, "SmallMedianCount", params.SmallMedianCount);
    return ok;
}

bool SaveAutoTrimParams(RegKey& root, std::string_view path, const AutoTrimParams& params) {
    RegKey* key = root.CreateKey(path);
    if (key == nullptr) {
        return false;
    }
    bool ok = key->SetDword("EdgeType", params.EdgeType);
    ok &= key->SetDword("SpaceType", params.SpaceType);
    ok &= key->SetDword("Flags", params.Flags);
    ok &= WriteDwordPair(*key, "Output", params.Output);
    ok &= WriteDwordPair(*key, "Trim", params.Trim);
    ok &= WriteLong(*key, "MedianCount", params.MedianCount);
    ok &= WriteLong(*key, "SmallMedianCount", params.SmallMedianCount);
    return ok;
}

bool LoadPlacement(const RegKey& root, std::string_view path, std::string_view prefix,
                   WindowPlacement& placement) {
    const RegKey* key = root.OpenKey(path);
    if (key == nullptr) {
        return false;
    }
    const std::string p(prefix);
    std::uint32_t fullScreen = 0;
    const bool maximizedRead = key->QueryDword(p + "FullScreen", fullScreen);
    if (maximizedRead) {
        placement.Maximized = fullScreen != 0;
    }
    RECT rect{};
    const bool rectRead =
        ReadLong(*key, p + "Left", rect.left) && ReadLong(*key, p + "Top", rect.top) &&
        ReadLong(*key, p + "Right", rect.right) && ReadLong(*key, p + "Bottom", rect.bottom);
    if (rectRead) {
        placement.Rect = rect;
    }
    return maximizedRead && rectRead;
}

bool SavePlacement(RegKey& root, std::string_view path, std::string_view prefix,
                   const WindowPlacement& placement) {
    RegKey* key = root.CreateKey(path);
    if (key == nullptr) {
        return false;
    }
    const std::string p(prefix);
    key->SetDword(p + "FullScreen", placement.Maximized ? 1 : 0);
    WriteLong(*key, p + "Left", placement.Rect.left);
    WriteLong(*key, p + "Top", placement.Rect.top);
    WriteLong(*key, p + "Right", placement.Rect.right);
    WriteLong(*key, p + "Bottom", placement.Rect.bottom);
    return true;
}

bool LoadHistory(const RegKey& root, std::string_view path, HistoryList& list) {
    const RegKey* key = root.OpenKey(path);
    if (key == nullptr) {
        return false;
    }
    // A missing or unreadable Count means an empty history. The program never
    // keeps more than MaxHistory entries, so a larger stored Count (written
    // by someone else) is read only that far instead of growing the list to
    // whatever the number says.
    std::uint32_t count = 0;
    bool ok = key->QueryDword("Count", count);
    if (count > AppSettings::MaxHistory) {
        count = AppSettings::MaxHistory;
    }
    list.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const RegKey* entry = key->SubKey(HistoryIndexName(i));
        ok &= entry != nullptr && ReadStringValue(*entry, "", list[i]);
    }
    return ok;
}

bool SaveHistory(RegKey& root, std::string_view path, const HistoryList& list) {
    RegKey* key = root.CreateKey(path);
    if (key == nullptr) {
        return false;
    }
    key->SetDword("Count", static_cast<std::uint32_t>(list.size()));
    bool ok = true;
    for (std::size_t i = 0; i < list.size(); ++i) {
        RegKey* entry = key->CreateSubKey(HistoryIndexName(i));
        ok &= entry != nullptr && entry->SetString("", list[i]);
    }
    return ok;
}

// ---- whole record ----------------------------------------------------------

bool LoadSettings(AppSettings& settings, RegKey& currentUser, int* outOfRange) {
    if (outOfRange != nullptr) {
        *outOfRange = 0;
    }
    if (currentUser.CreateKey(ProductKeyPath()) == nullptr) {
        return false;
    }
    const std::string setting = SettingPath();
    const RegKey* settingKey = currentUser.OpenKey(setting);
    if (settingKey == nullptr) {
        return false;
    }
    bool ok = LoadScalars(*settingKey, settings);
    settings.ThreadCount = AppSettings::ClampThreadCount(settings.ThreadCount);
    ok &= LoadAutoTrimParams(currentUser, setting + "\\AutoTrim", settings.AutoTrim);
    ok &= LoadPlacement(currentUser, setting + "\\Window", "", settings.Window);
    ok &= LoadHistory(currentUser, setting + "\\EmptyPath", settings.EmptyPath);
    ok &= LoadHistory(currentUser, setting + "\\SubFolder", settings.SubFolder);
    settings = KeepWithinRange(settings, AppSettings{}, outOfRange);
    return ok;
}

bool SaveSettings(const AppSettings& wanted, RegKey& currentUser) {
    if (currentUser.CreateKey(ProductKeyPath()) == nullptr) {
        return false;
    }
    // A value outside its range is not written: the one stored stays.
    AppSettings stored;
    LoadSettings(stored, currentUser);
    const AppSettings settings = KeepWithinRange(wanted, stored);
    const std::string setting = SettingPath();
    RegKey* settingKey = currentUser.CreateKey(setting);
    if (settingKey == nullptr) {
        return false;
    }
    bool ok = SaveScalars(*settingKey, settings);
    ok &= SaveAutoTrimParams(currentUser, setting + "\\AutoTrim", settings.AutoTrim);
    ok &= SavePlacement(currentUser, setting + "\\Window", "", settings.Window);
    ok &= SaveHistory(currentUser, setting + "\\EmptyPath", settings.EmptyPath);
    ok &= SaveHistory(currentUser, setting + "\\SubFolder", settings.SubFolder);
    return ok;
}

std::uint32_t SettingsLoadReport::WarningId() const {
    switch (file.state) {
        case RegistryFileStatus::State::NotRegular:
            return kMsgSettingsNotRegular;
        case RegistryFileStatus::State::TooLarge:
            return kMsgSettingsTooLarge;
        default:
            return 0;
    }
}

SettingsLoadReport LoadSettings(AppSettings& settings, const std::string& path) {
    SettingsLoadReport report;
    report.path = path;
    CRegistryStore store;
    if (!path.empty()) {
        report.file = ReadRegistryFile(path, store);
    }
    report.allValuesTaken = LoadSettings(settings, store.CurrentUser(), &report.valuesOutOfRange);
    return report;
}

SettingsLoadReport LoadSettings(AppSettings& settings) {
    return LoadSettings(settings, SettingsFilePath());
}

bool SaveSettings(const AppSettings& settings, const std::string& path, SettingsSaveResult* result,
                  std::chrono::milliseconds lockWait) {
    bool written = false;
    bool keepAside = false;
    const RegistryUpdateResult update = UpdateRegistryFile(
        path,
        [&](CRegistryStore& store) {
            // A file holding values out of range was said to be damaged
            // when it was read: it is kept aside like one.
            AppSettings stored;
            int outOfRange = 0;
            LoadSettings(stored, store.CurrentUser(), &outOfRange);
            keepAside = outOfRange != 0;
            written = SaveSettings(settings, store.CurrentUser());
            return written;
        },
        lockWait, &keepAside);
    if (result != nullptr) {
        result->error = update.error;
        result->keptAside = update.keptAside;
        result->off = update.read.state == RegistryFileStatus::State::Off;
        result->lockTimedOut = result->skipped = update.lockTimedOut;
    }
    return update.lockTimedOut || (written && SUCCEEDED(update.error));
}

SettingsSaveResult SaveProgramSettings(const AppSettings& settings, const std::string& path) {
    // Set once a save found the file locked: the run does not wait again.
    static std::atomic<bool> s_locked{false};
    SettingsSaveResult result;
    if (s_locked.load()) {
        result.skipped = true;
        return result;
    }
    if (!SaveSettings(settings, path, &result) && SUCCEEDED(result.error)) {
        result.error = E_FAIL;
    }
    if (result.lockTimedOut) {
        s_locked.store(true);
    }
    return result;
}

SettingsSaveResult SaveProgramSettings(const AppSettings& settings) {
    return SaveProgramSettings(settings, SettingsFilePath());
}
