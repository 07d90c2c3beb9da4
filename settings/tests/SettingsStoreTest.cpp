#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <tuple>

#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kSetting = "[HKEY_CURRENT_USER\\Software\\Kelvaro\\Quorvel\\Setting";

// Every stored field, for comparing whole records.
auto Fields(const AppSettings& s) {
    const AutoTrimParams& t = s.AutoTrim;
    return std::tie(s.EmptyPath, s.SubFolder, s.SaveType, s.JpegQuality, s.TiffCompression,
                    s.SizeToOutputAdd, s.ThreadCount, s.Window, t.EdgeType, t.SpaceType, t.Flags,
                    t.Output, t.Trim, t.MedianCount, t.SmallMedianCount);
}

void ExpectSameSettings(const AppSettings& a, const AppSettings& b) {
    EXPECT_TRUE(Fields(a) == Fields(b));
}

AppSettings FullSettings() {
    AppSettings s;
    s.EmptyPath.clear();
    for (int i = 0; i < 16; ++i) {
        s.EmptyPath.push_back("/home/山田/スキャン/空の画像 " + std::to_string(i) + ".png");
    }
    s.EmptyPath[1] = "";                                  // "no empty image" entries are kept too
    s.EmptyPath[2] = "/tmp/\xE9t\xE9 \"q\" \\ back.png";  // not UTF-8, quotes, backslash
    s.SubFolder = {"切り抜き", "trim", "out\\dir"};
    s.SaveType = SaveTypeTiff;
    s.JpegQuality = 95;
    s.TiffCompression = 5;
    s.SizeToOutputAdd = -20;
    s.ThreadCount = 8;
    s.Window = WindowPlacement{true, RECT{-1920, -8, 1200, 900}};
    s.AutoTrim.EdgeType = RotateEdgeTopBottom;
    s.AutoTrim.SpaceType = TrimEdgesRightLeftAlternate;
    s.AutoTrim.Flags = 0xFFFFFFF8u | AutoTrimParams::FlagOutputSize;  // unknown bits kept
    s.AutoTrim.Output = SIZE{2480, 3508};
    s.AutoTrim.Trim = SIZE{-4, 12};
    s.AutoTrim.MedianCount = 0;
    s.AutoTrim.SmallMedianCount = AutoTrimParams::MaxMedianCount;
    return s;
}

std::string SettingsFile(const std::string& body) {
    return "Windows Registry Editor Version 5.00\n\n" + body;
}

TEST(SettingsStore, FilePathFirstRunAndFirstSave) {
    EnvScope reg("QUORVEL_REGISTRY", "/x/my.reg");
    EnvScope xdg("XDG_CONFIG_HOME", "/cfg");
    EnvScope home("HOME", "/home/u");
    EXPECT_EQ(SettingsFilePath(), "/x/my.reg");
    {
        EnvScope noReg("QUORVEL_REGISTRY", "");
        EXPECT_EQ(SettingsFilePath(), "/cfg/Kelvaro/Quorvel.reg");
        EnvScope relativeXdg("XDG_CONFIG_HOME", "relative");
        EXPECT_EQ(SettingsFilePath(), "/home/u/.config/Kelvaro/Quorvel.reg");
    }
    EXPECT_EQ(ProductKeyPath(), "Software\\Kelvaro\\Quorvel");

    // First run: defaults, nothing written until the first save.
    TempDir dir;
    AppSettings loaded;
    EnvScope dirReg("QUORVEL_REGISTRY", dir.File("cfg/Quorvel.reg").c_str());
    const SettingsLoadReport report = LoadSettings(loaded);
    EXPECT_EQ(report.file.state, RegistryFileStatus::State::Missing);
    EXPECT_FALSE(report.Damaged());
    ExpectSameSettings(loaded, AppSettings{});
    EXPECT_FALSE(std::filesystem::exists(dir.File("cfg/Quorvel.reg")));

    ASSERT_TRUE(SaveProgramSettings(AppSettings{}).error == S_OK);
    const std::string text = ReadFileBytes(dir.File("cfg/Quorvel.reg"));
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    for (const std::string& block : {
             kSetting + "]\n\"SaveType\"=dword:00000001\n\"JpegQuality\"=dword:00000050\n"
                        "\"TiffCompression\"=dword:00000008\n"
                        "\"SizeToOutputAdd\"=dword:fffffffe\n\"ThreadCount\"=dword:00000001\n",
             kSetting + "\\AutoTrim]\n\"EdgeType\"=dword:00000001\n\"SpaceType\"=dword:00000001\n"
                        "\"Flags\"=dword:00000002\n\"OutputCx\"=dword:00000000\n",
             kSetting + "\\SubFolder\\00]\n@=\"trim\"\n",
         }) {
        EXPECT_NE(text.find(block), std::string::npos) << block;
    }
}

TEST(SettingsStore, OddStoredDataKeepsTheFieldsItCannotFill) {
    TempDir dir;
    const std::string path = dir.File("odd.reg");
    WriteFileBytes(path, SettingsFile(kSetting +
                                      "]\n"
                                      "\"SaveType\"=dword:00000003\n"
                                      "\"JpegQuality\"=\"95\"\n"            // REG_SZ for a DWORD
                                      "\"SizeToOutputAdd\"=hex(4):fe,ff\n"  // 2-byte DWORD
                                      "\"ThreadCount\"=hex(b):04,00,00,00,00,00,00,00\n" +
                                      kSetting +
                                      "\\AutoTrim]\n"
                                      "\"EdgeType\"=dword:00000005\n"
                                      "\"Flags\"=hex(1):61,00,00,00\n"  // 4 bytes, wrong type
                                      "\"OutputCx\"=dword:00000064\n"   // OutputCy missing
                                      "\"TrimCx\"=dword:00000002\n"
                                      "\"TrimCy\"=dword:ffffffff\n" +
                                      kSetting +
                                      "\\Window]\n"
                                      "\"FullScreen\"=dword:00000005\n"
                                      "\"Left\"=dword:00000001\n"
                                      "\"Top\"=dword:00000002\n"
                                      "\"Right\"=dword:00000003\n" +  // Bottom missing
                                      kSetting +
                                      "\\SubFolder]\n"
                                      "\"Count\"=dword:00000004\n" +
                                      kSetting + "\\SubFolder\\00]\n@=dword:00000001\n" + kSetting +
                                      "\\SubFolder\\01]\n@=hex(1):61,00,62,00\n" + kSetting +
                                      "\\SubFolder\\02]\n@=hex(2):25,00,54,00,25,00,00,00\n" +
                                      kSetting + "\\EmptyPath]\n" +  // no Count
                                      kSetting + "\\EmptyPath\\00]\n@=\"/ignored.png\"\n"));
    AppSettings loaded;
    loaded.SubFolder = {"keep0", "keep1", "keep2", "keep3", "keep4"};
    loaded.EmptyPath = {"old"};
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_FALSE(report.Damaged());
    EXPECT_FALSE(report.allValuesTaken);

    const AppSettings defaults;
    EXPECT_EQ(loaded.SaveType, SaveTypeTiff);
    EXPECT_EQ(loaded.JpegQuality, defaults.JpegQuality);
    EXPECT_EQ(loaded.SizeToOutputAdd, defaults.SizeToOutputAdd);
    EXPECT_EQ(loaded.ThreadCount, defaults.ThreadCount);
    EXPECT_EQ(loaded.AutoTrim.EdgeType, RotateEdgeBottom);
    EXPECT_EQ(loaded.AutoTrim.Flags, defaults.AutoTrim.Flags);
    EXPECT_EQ(loaded.AutoTrim.Output, defaults.AutoTrim.Output);
    EXPECT_EQ(loaded.AutoTrim.Trim, (SIZE{2, -1}));
    EXPECT_EQ(loaded.AutoTrim.MedianCount, defaults.AutoTrim.MedianCount);
    EXPECT_TRUE(loaded.Window.Maximized);
    EXPECT_EQ(loaded.Window.Rect, defaults.Window.Rect);
    // Entries that cannot be read keep what they held; the list takes Count.
    EXPECT_EQ(loaded.SubFolder, (HistoryList{"keep0", "keep1", "%T%", "keep3"}));
    EXPECT_TRUE(loaded.EmptyPath.empty());
}

TEST(SettingsStore, HistoryCountIsBoundedAndGapsReadEmpty) {
    CRegistryStore store;
    RegKey* key = store.CurrentUser().CreateKey(ProductKeyPath() + "\\Setting\\EmptyPath");
    key->SetDword("Count", 0xFFFFFFFFu);
    for (int i = 0; i < 120; ++i) {
        if (i != 3) {
            char name[8];
            std::snprintf(name, sizeof name, "%02d", i);
            key->CreateSubKey(name)->SetString("", "p" + std::to_string(i));
        }
    }
    HistoryList list;
    EXPECT_FALSE(LoadHistory(store.CurrentUser(), ProductKeyPath() + "\\Setting\\EmptyPath", list));
    ASSERT_EQ(list.size(), AppSettings::MaxHistory);
    EXPECT_EQ(list[2], "p2");
    EXPECT_EQ(list[3], "");
    EXPECT_EQ(list[15], "p15");

    SaveHistory(store.CurrentUser(), "H", HistoryList(101, "x"));
    EXPECT_NE(store.CurrentUser().OpenKey("H\\07"), nullptr);
    EXPECT_NE(store.CurrentUser().OpenKey("H\\100"), nullptr);
}

TEST(SettingsStore, CorruptFileIsKeptAsideAndAFullRecordRoundTrips) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("日本語"));
    const std::string path = dir.File("日本語/Quorvel.reg");
    std::mt19937 rng(7);
    std::string garbage(4096, '\0');
    std::generate(garbage.begin(), garbage.end(), [&] { return static_cast<char>(rng()); });
    WriteFileBytes(path, garbage);

    AppSettings loaded;
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_TRUE(report.Damaged());
    EXPECT_EQ(report.path, path);
    ExpectSameSettings(loaded, AppSettings{});
    EXPECT_EQ(ReadFileBytes(path), garbage);  // loading never touches it

    // Every field of a full record survives the file, which then replaces
    // the lists it is loaded into.
    const AppSettings saved = FullSettings();
    SettingsSaveResult result;
    ASSERT_TRUE(SaveSettings(saved, path, &result));
    EXPECT_EQ(result.error, S_OK);
    ASSERT_FALSE(result.keptAside.empty());
    EXPECT_EQ(ReadFileBytes(result.keptAside), garbage);
    AppSettings again;
    again.SubFolder = {"a", "b", "c", "d"};
    const SettingsLoadReport reread = LoadSettings(again, path);
    EXPECT_FALSE(reread.Damaged());
    EXPECT_EQ(reread.file.state, RegistryFileStatus::State::Read);
    EXPECT_TRUE(reread.allValuesTaken);
    ExpectSameSettings(again, saved);

    // Saving what was loaded writes the same file.
    const std::string first = ReadFileBytes(path);
    ASSERT_TRUE(SaveSettings(again, path));
    EXPECT_EQ(ReadFileBytes(path), first);
}

// A stored value outside its range is read as its default, with the
// damaged-file notice, and the file is kept aside at the next save; a value
// outside its range is never written: the stored one stays.
TEST(SettingsStore, ValuesOutOfRangeAreNeitherUsedNorStored) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    const std::string odd = SettingsFile(
        kSetting + "]\n\"SaveType\"=dword:00000007\n\"JpegQuality\"=dword:0000005f\n" + kSetting +
        "\\AutoTrim]\n\"MedianCount\"=dword:7fffffff\n" +
        "\"SmallMedianCount\"=dword:ffffffff\n\"EdgeType\"=dword:0000000a\n" +
        "\"Flags\"=dword:00000003\n\"OutputCx\"=dword:00000000\n" +
        "\"OutputCy\"=dword:00000010\n" + kSetting + "\\SubFolder]\n\"Count\"=dword:00000002\n" +
        kSetting + "\\SubFolder\\00]\n@=\"a/../..\"\n" + kSetting +
        "\\SubFolder\\01]\n@=\"out\"\n");
    WriteFileBytes(path, odd);
    AppSettings loaded;
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_TRUE(report.Damaged());
    EXPECT_EQ(report.valuesOutOfRange, 6);
    const AppSettings defaults;
    EXPECT_EQ(loaded.SaveType, defaults.SaveType);
    EXPECT_EQ(loaded.JpegQuality, 95);
    EXPECT_EQ(loaded.AutoTrim.MedianCount, defaults.AutoTrim.MedianCount);
    EXPECT_EQ(loaded.AutoTrim.SmallMedianCount, defaults.AutoTrim.SmallMedianCount);
    EXPECT_EQ(loaded.AutoTrim.EdgeType, defaults.AutoTrim.EdgeType);
    EXPECT_EQ(loaded.AutoTrim.Flags, defaults.AutoTrim.Flags);  // no output size of 0 × 16
    EXPECT_EQ(loaded.AutoTrim.Output, defaults.AutoTrim.Output);
    EXPECT_EQ(loaded.SubFolder, HistoryList{"out"});

    AppSettings refused = loaded;
    refused.JpegQuality = 2147483647;  // as /format:jpg,99999999999 leaves it
    refused.AutoTrim.MedianCount = 0x10000;
    refused.SubFolder.insert(refused.SubFolder.begin(), "..");
    SettingsSaveResult saved;
    ASSERT_TRUE(SaveSettings(refused, path, &saved));
    EXPECT_EQ(ReadFileBytes(saved.keptAside), odd);
    AppSettings again;
    const SettingsLoadReport reread = LoadSettings(again, path);
    EXPECT_FALSE(reread.Damaged());
    ExpectSameSettings(again, loaded);
}

TEST(SettingsStore, SaveKeepsKeysItDoesNotOwn) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    WriteFileBytes(path, SettingsFile("[HKEY_CURRENT_USER\\Software\\Kelvaro\\Other]\n"
                                      "\"Keep\"=\"me\"\n"));
    ASSERT_TRUE(SaveSettings(AppSettings{}, path));
    EXPECT_NE(ReadFileBytes(path).find("[HKEY_CURRENT_USER\\Software\\Kelvaro\\Other]\n"
                                       "\"Keep\"=\"me\"\n"),
              std::string::npos);
}

TEST(SettingsStore, FailedSaveTellsWhy) {
    TempDir dir;
    const std::string blocker = dir.File("file");
    WriteFileBytes(blocker, "x");
    const std::string path = blocker + "/Quorvel.reg";
    SettingsSaveResult result;
    EXPECT_FALSE(SaveSettings(AppSettings{}, path, &result));
    EXPECT_EQ(result.error, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(SaveProgramSettings(AppSettings{}, path).error,
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ReadFileBytes(blocker), "x");
}

// Two processes save a few hundred times each while this one keeps reading,
// with and without the lock: every read sees a whole file written by one of
// them, never a mix or a broken file.
TEST(SettingsStore, ConcurrentSavesNeverLeaveABrokenFile) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    AppSettings variants[2] = {FullSettings(), AppSettings{}};
    variants[1].ThreadCount = 3;
    variants[1].SubFolder = {"second", "writer"};

    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failures = 0;
            for (int i = 0; i < 200; ++i) {
                failures += SaveSettings(variants[c], path) ? 0 : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    // Checks stop at the first fault; the loop runs on until both children end.
    int reads = 0;
    bool broken = false;
    int exitStatus[2] = {-1, -1};
    while (exitStatus[0] < 0 || exitStatus[1] < 0) {
        for (int c = 0; c < 2; ++c) {
            int status = 0;
            if (exitStatus[c] < 0 && ::waitpid(children[c], &status, WNOHANG) == children[c]) {
                exitStatus[c] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
        }
        AppSettings loaded;
        const SettingsLoadReport report = LoadSettings(loaded, path);
        if (broken || report.file.state == RegistryFileStatus::State::Missing) {
            continue;
        }
        ++reads;
        CRegistryStore unlocked;  // a reader that takes no lock sees whole files too
        broken = report.file.state != RegistryFileStatus::State::Read ||
                 !unlocked.Parse(ReadFileBytes(path)).Clean() ||
                 (loaded.ThreadCount != 8 && loaded.ThreadCount != 3);
        EXPECT_FALSE(broken) << "read " << reads;
        if (!broken) {
            ExpectSameSettings(loaded, variants[loaded.ThreadCount == 8 ? 0 : 1]);
        }
    }
    EXPECT_EQ(exitStatus[0] + exitStatus[1], 0);
    EXPECT_GT(reads, 0);
    const auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2)
        << "the store and its lock file: no temporary file left";
}

}  // namespace
