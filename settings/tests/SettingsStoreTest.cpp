#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"
#include "settings/SettingsStore.h"
#include "settings/tests/TempDir.h"

namespace {

const std::string kSetting = "[HKEY_CURRENT_USER\\Software\\Kelvaro\\Quorvel\\Setting";

void ExpectSameSettings(const AppSettings& a, const AppSettings& b) {
    EXPECT_EQ(a.EmptyPath, b.EmptyPath);
    EXPECT_EQ(a.SubFolder, b.SubFolder);
    EXPECT_EQ(a.SaveType, b.SaveType);
    EXPECT_EQ(a.JpegQuality, b.JpegQuality);
    EXPECT_EQ(a.SizeToOutputAdd, b.SizeToOutputAdd);
    EXPECT_EQ(a.ThreadCount, b.ThreadCount);
    EXPECT_EQ(a.Window, b.Window);
    EXPECT_EQ(a.AutoTrim.EdgeType, b.AutoTrim.EdgeType);
    EXPECT_EQ(a.AutoTrim.SpaceType, b.AutoTrim.SpaceType);
    EXPECT_EQ(a.AutoTrim.Flags, b.AutoTrim.Flags);
    EXPECT_EQ(a.AutoTrim.Output, b.AutoTrim.Output);
    EXPECT_EQ(a.AutoTrim.Trim, b.AutoTrim.Trim);
    EXPECT_EQ(a.AutoTrim.MedianCount, b.AutoTrim.MedianCount);
    EXPECT_EQ(a.AutoTrim.SmallMedianCount, b.AutoTrim.SmallMedianCount);
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
    s.SizeToOutputAdd = -20;
    s.ThreadCount = 8;
    s.Window = WindowPlacement{true, RECT{-1920, -8, 1200, 900}};
    s.AutoTrim.EdgeType = RotateEdgeTopBottom;
    s.AutoTrim.SpaceType = TrimEdgesRightLeftAlternate;
    s.AutoTrim.Flags = 0xFFFFFFF8u | AutoTrimParams::FlagOutputSize;  // unknown bits kept
    s.AutoTrim.Output = SIZE{2480, 3508};
    s.AutoTrim.Trim = SIZE{-4, 12};
    s.AutoTrim.MedianCount = -1;
    s.AutoTrim.SmallMedianCount = 0;
    return s;
}

std::string SettingsFile(const std::string& body) {
    return "Windows Registry Editor Version 5.00\n\n" + body;
}

TEST(SettingsStore, FilePathFollowsTheEnvironment) {
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
}

TEST(SettingsStore, FirstRunKeepsDefaultsAndTheFirstSaveWritesTheWholeTree) {
    CRegistryStore store;
    AppSettings loaded;
    EXPECT_FALSE(LoadSettings(loaded, store.CurrentUser()));
    ExpectSameSettings(loaded, AppSettings{});
    EXPECT_NE(store.CurrentUser().OpenKey("Software\\Kelvaro\\Quorvel"), nullptr);
    EXPECT_EQ(store.CurrentUser().OpenKey("Software\\Kelvaro\\Quorvel\\Setting"), nullptr);

    TempDir dir;
    EnvScope reg("QUORVEL_REGISTRY", dir.File("cfg/Quorvel.reg").c_str());
    const SettingsLoadReport report = LoadSettings(loaded);
    EXPECT_EQ(report.file.state, RegistryFileStatus::State::Missing);
    EXPECT_FALSE(report.NeedsAttention());
    EXPECT_FALSE(std::filesystem::exists(dir.File("cfg/Quorvel.reg")));

    ASSERT_TRUE(SaveSettings(AppSettings{}));
    const std::string text = ReadFileBytes(dir.File("cfg/Quorvel.reg"));
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    for (const std::string& part : {
             kSetting + "]\n\"SaveType\"=dword:00000001\n\"JpegQuality\"=dword:00000050\n"
                        "\"SizeToOutputAdd\"=dword:fffffffe\n\"ThreadCount\"=dword:00000001\n",
             kSetting + "\\AutoTrim]\n\"EdgeType\"=dword:00000001\n\"SpaceType\"=dword:00000000\n"
                        "\"Flags\"=dword:00000002\n\"OutputCx\"=dword:00000000\n",
             kSetting + "\\SubFolder\\00]\n@=\"trim\"\n",
         }) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

TEST(SettingsStore, FullRecordRoundTripsThroughTheFile) {
    TempDir dir;
    const std::string path = dir.File("日本語/Quorvel.reg");
    const AppSettings saved = FullSettings();
    SettingsSaveResult result;
    ASSERT_TRUE(SaveSettings(saved, path, &result));
    EXPECT_EQ(result.error, S_OK);

    AppSettings loaded;
    loaded.SubFolder = {"a", "b", "c", "d"};
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_EQ(report.file.state, RegistryFileStatus::State::Read);
    EXPECT_TRUE(report.allValuesTaken);
    ExpectSameSettings(loaded, saved);

    // Saving what was loaded writes the same file.
    const std::string first = ReadFileBytes(path);
    ASSERT_TRUE(SaveSettings(loaded, path));
    EXPECT_EQ(ReadFileBytes(path), first);
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
    EXPECT_FALSE(report.NeedsAttention());
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

TEST(SettingsStore, ThreadCountIsClampedAfterLoading) {
    const struct {
        std::uint32_t stored;
        LONG loaded;
    } cases[] = {{0, 1}, {500, 99}, {0xFFFFFFFFu, 1}, {99, 99}};
    for (const auto& c : cases) {
        CRegistryStore store;
        store.CurrentUser()
            .CreateKey(ProductKeyPath() + "\\Setting")
            ->SetDword("ThreadCount", c.stored);
        AppSettings loaded;
        LoadSettings(loaded, store.CurrentUser());
        EXPECT_EQ(loaded.ThreadCount, c.loaded) << c.stored;
    }
}

TEST(SettingsStore, HistoryKeysBeyondCountStayAndAreIgnored) {
    TempDir dir;
    const std::string path = dir.File("h.reg");
    AppSettings s;
    s.SubFolder = {"e0", "e1", "e2", "e3", "e4"};
    ASSERT_TRUE(SaveSettings(s, path));
    s.SubFolder = {"n0", "n1", "n2"};
    ASSERT_TRUE(SaveSettings(s, path));

    CRegistryStore store;
    ReadRegistryFile(path, store);
    const RegKey* key = store.CurrentUser().OpenKey(ProductKeyPath() + "\\Setting\\SubFolder");
    ASSERT_NE(key, nullptr);
    std::uint32_t count = 0;
    EXPECT_TRUE(key->QueryDword("Count", count));
    EXPECT_EQ(count, 3u);
    std::string stale;
    ASSERT_NE(key->SubKey("04"), nullptr);
    EXPECT_TRUE(ReadStringValue(*key->SubKey("04"), "", stale));
    EXPECT_EQ(stale, "e4");

    AppSettings loaded;
    LoadSettings(loaded, path);
    EXPECT_EQ(loaded.SubFolder, s.SubFolder);
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

    // Index 100 is named "100".
    HistoryList many(101, "x");
    SaveHistory(store.CurrentUser(), "H", many);
    EXPECT_NE(store.CurrentUser().OpenKey("H\\100"), nullptr);
    EXPECT_NE(store.CurrentUser().OpenKey("H\\07"), nullptr);
}

TEST(SettingsStore, StringValueRules) {
    RegKey key("k");
    std::string text = "untouched";
    key.SetValue("", REG_SZ, {0x61, 0, 0, 0, 0x62, 0, 0, 0});
    EXPECT_TRUE(ReadStringValue(key, "", text));
    EXPECT_EQ(text, "a");  // up to the first null
    for (const auto& data : {std::vector<std::uint8_t>{0x61, 0, 0}, {0x61, 0}, {}}) {
        key.SetValue("bad", REG_SZ, data);
        text = "untouched";
        EXPECT_FALSE(ReadStringValue(key, "bad", text));
        EXPECT_EQ(text, "untouched");
    }
    key.SetValue("bin", REG_BINARY, {0x61, 0, 0, 0});
    EXPECT_FALSE(ReadStringValue(key, "bin", text));
    EXPECT_FALSE(ReadStringValue(key, "missing", text));
}

TEST(SettingsStore, CorruptFileLoadsDefaultsAndIsKeptAsideBeforeTheNextSave) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    std::mt19937 rng(7);
    std::string garbage(4096, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(rng() & 0xFF);
    }
    WriteFileBytes(path, garbage);

    AppSettings loaded;
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_TRUE(report.NeedsAttention());
    EXPECT_EQ(report.path, path);
    ExpectSameSettings(loaded, AppSettings{});
    EXPECT_EQ(ReadFileBytes(path), garbage);  // loading never touches it

    const AppSettings saved = FullSettings();
    SettingsSaveResult result;
    ASSERT_TRUE(SaveSettings(saved, path, &result));
    ASSERT_FALSE(result.keptAside.empty());
    EXPECT_EQ(ReadFileBytes(result.keptAside), garbage);
    AppSettings again;
    EXPECT_FALSE(LoadSettings(again, path).NeedsAttention());
    ExpectSameSettings(again, saved);
}

TEST(SettingsStore, PartlyDamagedFileUsesWhatParses) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    WriteFileBytes(path, SettingsFile(kSetting + "]\n\"ThreadCount\"=dword:00000006\n\x7f\x01zz\n" +
                                      kSetting + "\\AutoTrim]\n\"SpaceType\"=dword:0000000c\n"));
    AppSettings loaded;
    const SettingsLoadReport report = LoadSettings(loaded, path);
    EXPECT_EQ(report.file.state, RegistryFileStatus::State::Damaged);
    EXPECT_EQ(report.file.parse.firstBadLine, 5u);
    EXPECT_EQ(loaded.ThreadCount, 6);
    EXPECT_EQ(loaded.AutoTrim.SpaceType, TrimEdgesLeftTopBottom);
}

TEST(SettingsStore, SaveKeepsKeysItDoesNotOwn) {
    TempDir dir;
    const std::string path = dir.File("Quorvel.reg");
    WriteFileBytes(path, SettingsFile("[HKEY_CURRENT_USER\\Software\\Kelvaro\\Other]\n"
                                      "\"Keep\"=\"me\"\n"));
    ASSERT_TRUE(SaveSettings(AppSettings{}, path));
    CRegistryStore store;
    EXPECT_EQ(ReadRegistryFile(path, store).state, RegistryFileStatus::State::Read);
    std::string text;
    ASSERT_NE(store.CurrentUser().OpenKey("Software\\Kelvaro\\Other"), nullptr);
    EXPECT_TRUE(
        ReadStringValue(*store.CurrentUser().OpenKey("Software\\Kelvaro\\Other"), "Keep", text));
    EXPECT_EQ(text, "me");
}

TEST(SettingsStore, FailedSaveReports40007) {
    TempDir dir;
    const std::string blocker = dir.File("file");
    WriteFileBytes(blocker, "x");
    const std::string path = blocker + "/Quorvel.reg";
    SettingsSaveResult result;
    EXPECT_FALSE(SaveSettings(AppSettings{}, path, &result));
    EXPECT_EQ(result.error, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));

    for (const auto& [language, text] :
         {std::pair{Language::English, "failed to save settings"},
          std::pair{Language::Japanese, "設定の保存に失敗しました"}}) {
        LanguageScope scope(language);
        try {
            SaveSettingsOrThrow(AppSettings{}, path);
            ADD_FAILURE() << "no exception";
        } catch (const my::CException& e) {
            EXPECT_EQ(e.id, 40007u);
            EXPECT_EQ(e.message, text);
            EXPECT_EQ(e.code, static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)));
        }
    }
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
    // Checks stop at the first fault, but the loop runs on until both
    // children have ended, so none outlives the test's folder.
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
        // A reader that takes no lock sees whole files too.
        CRegistryStore unlocked;
        const bool unlockedClean = unlocked.Parse(ReadFileBytes(path)).Clean();
        broken = report.file.state != RegistryFileStatus::State::Read || !unlockedClean ||
                 (loaded.ThreadCount != 8 && loaded.ThreadCount != 3);
        EXPECT_FALSE(broken) << "read " << reads;
        if (!broken) {
            ExpectSameSettings(loaded, variants[loaded.ThreadCount == 8 ? 0 : 1]);
        }
    }
    EXPECT_EQ(exitStatus[0], 0);
    EXPECT_EQ(exitStatus[1], 0);
    EXPECT_GT(reads, 0);

    CRegistryStore store;
    const RegistryFileStatus final = ReadRegistryFile(path, store);
    EXPECT_TRUE(final.parse.Clean());
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2u);  // the store and its lock file: no temporary file left
}

}  // namespace
