// Loading and saving AppSettings in the per-user store.
//
// Layout, all under HKEY_CURRENT_USER\Software\<maker>\<product> (string ids
// 130 "Kelvaro" and 131 "Quorvel"); every number is a REG_DWORD of 4 bytes
// holding the field's 32 bits (negative values as two's complement):
//   Setting              SaveType (1), JpegQuality (80), TiffCompression (8),
//                        SizeToOutputAdd (-2), ThreadCount (1; clamped to
//                        1..99 after loading)
//   Setting\AutoTrim     EdgeType (1), SpaceType (1), Flags (2), OutputCx,
//                        OutputCy, TrimCx, TrimCy (0 each), MedianCount (3),
//                        SmallMedianCount (3)
//   Setting\Window       FullScreen (0; any non-zero reads as maximised),
//                        Left, Top, Right, Bottom (0 each)
//   Setting\EmptyPath,   "Count" and subkeys "00", "01", ... ("%02d" of the
//   Setting\SubFolder    0-based index, most recent first), each holding its
//                        entry as the key's default value, REG_SZ with the
//                        terminating null
//
// Loading never fails as a whole: a value that is absent or not a 4-byte
// REG_DWORD (or, for strings, not a terminated REG_SZ / REG_EXPAND_SZ)
// leaves its field as it was, so damaged data degrades to the defaults field
// by field. A value outside its valid range (AppSettings.h: SaveType 0..3,
// JpegQuality 0..100, EdgeType 0..9, SpaceType 0..15, MedianCount and
// SmallMedianCount 0..10, an output size in use at least 1 × 1, SubFolder
// entries plain subfolder names) is replaced by its default and counts as
// damage; ThreadCount is clamped instead. A pair (Output, Trim) and the window rectangle are set
// only when all their values are readable. A history without a readable "Count" is emptied; a Count
// above AppSettings::MaxHistory (16) reads only the first 16 entries. Subkeys beyond Count are
// ignored.
//
// Saving writes every value above (subkeys are created as needed) except
// values outside their range, for which the value stored stays (so a value
// the batch refused is never kept for the next run), and deletes nothing: history subkeys beyond
// the new Count stay, ignored by the next load because Count bounds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "msg/Result.h"
#include "settings/RegistryFile.h"
#include "settings/RegistryStore.h"
#include "trim/AppSettings.h"

// "Software\Kelvaro\Quorvel", built from the string table.
std::string ProductKeyPath();

// The settings file: $QUORVEL_REGISTRY when set and not empty, otherwise
// $XDG_CONFIG_HOME/Kelvaro/Quorvel.reg (an absolute XDG_CONFIG_HOME only),
// otherwise <home>/.config/Kelvaro/Quorvel.reg with home from $HOME or the
// password database. "" when no home folder is known.
std::string SettingsFilePath();

// ---- on a store's HKEY_CURRENT_USER key ------------------------------------

// Creates the product key, then reads whatever exists into settings. True
// when every value was taken (nobody needs the answer). `outOfRange`, when
// given, receives the number of values replaced because they lay outside
// their range.
bool LoadSettings(AppSettings& settings, RegKey& currentUser, int* outOfRange = nullptr);
// Writes the whole tree (values out of range excepted, see above); true
// when every part was written.
bool SaveSettings(const AppSettings& settings, RegKey& currentUser);

// The building blocks. Keys are given as a root and a path below it; a Load
// returns true when every value it reads was taken, and leaves fields it
// could not take as they were.
bool LoadScalars(const RegKey& settingKey, AppSettings& settings);
bool SaveScalars(RegKey& settingKey, const AppSettings& settings);
bool LoadAutoTrimParams(const RegKey& root, std::string_view path, AutoTrimParams& params);
bool SaveAutoTrimParams(RegKey& root, std::string_view path, const AutoTrimParams& params);
// Value names are prefix + "FullScreen", "Left", "Top", "Right", "Bottom".
bool LoadPlacement(const RegKey& root, std::string_view path, std::string_view prefix,
                   WindowPlacement& placement);
// True when the key could be created.
bool SavePlacement(RegKey& root, std::string_view path, std::string_view prefix,
                   const WindowPlacement& placement);
bool LoadHistory(const RegKey& root, std::string_view path, HistoryList& list);
bool SaveHistory(RegKey& root, std::string_view path, const HistoryList& list);
// prefix + "Cx" and prefix + "Cy"; both are set only when both are readable.
bool ReadDwordPair(const RegKey& key, std::string_view prefix, SIZE& size);
bool WriteDwordPair(RegKey& key, std::string_view prefix, SIZE size);
// The string of a REG_SZ or REG_EXPAND_SZ (taken literally, not expanded)
// whose data has an even length and ends in a null code unit; the text runs
// to the first null. name "" is the key's default value. False (text
// untouched) otherwise.
bool ReadStringValue(const RegKey& key, std::string_view name, std::string& text);

// ---- on the settings file --------------------------------------------------

// What loading the file found, for start-up to tell the user about.
struct SettingsLoadReport {
    std::string path;         // the file read ("" when no path is known)
    RegistryFileStatus file;  // Missing on a first run
    bool allValuesTaken = false;
    int valuesOutOfRange = 0;  // replaced by their defaults
    // The file could not be read, parts of it did not parse (whatever
    // parsed was used) or values lay outside their range; the next save
    // keeps it aside under a new name. A file too large to read is not
    // counted here: it has its own warning.
    bool Damaged() const {
        return file.state == RegistryFileStatus::State::Damaged ||
               file.state == RegistryFileStatus::State::Unreadable || valuesOutOfRange != 0;
    }
    // The warning start-up writes for this load, with the path: 40044 for a
    // path that is no regular file (and no character device), 40045 for a
    // file too large to read; 0 for none.
    std::uint32_t WarningId() const;
};

SettingsLoadReport LoadSettings(AppSettings& settings, const std::string& path);
// From SettingsFilePath().
SettingsLoadReport LoadSettings(AppSettings& settings);

struct SettingsSaveResult {
    HRESULT error = S_OK;   // the file error, S_OK when the file was written
    std::string keptAside;  // where a damaged file was kept, or ""
    bool off = false;       // a character device: persistence is off, nothing written
    // Nothing written because another program kept the file locked: this
    // save waited for it in vain (lockTimedOut), or an earlier one of the
    // process did (skipped only).
    bool lockTimedOut = false;
    bool skipped = false;
};

// Reads the current file (another copy of the program may have written it),
// writes the settings into it and replaces it atomically. True when every
// part was written and the file replaced, and when nothing is to be written:
// persistence is off, or another program kept the lock longer than
// `lockWait` (the run goes on without saving). On false the settings in
// memory and the file on disk are as they were; the caller reports false
// with message 40007 "failed to save settings" and goes on.
bool SaveSettings(const AppSettings& settings, const std::string& path,
                  SettingsSaveResult* result = nullptr,
                  std::chrono::milliseconds lockWait = kRegistryLockWait);

// The saves of the running program: SaveSettings, except that once a save
// of the process has found the file locked, later ones skip at once
// (skipped set), so that a run waits for a locked file only once. Never
// throws; result.error tells a save that failed (E_FAIL when the file was
// fine but the settings could not be put into it).
SettingsSaveResult SaveProgramSettings(const AppSettings& settings, const std::string& path);
// To SettingsFilePath().
SettingsSaveResult SaveProgramSettings(const AppSettings& settings);
