#include "batch/SettingsValidation.h"

#include <gtest/gtest.h>

#include "msg/tests/LanguageScope.h"

using qv::SettingsCheck;
using qv::ValidateSettings;

// With every checked value wrong, each fault is reported only once every
// earlier one is fixed: the dialog's order, texts and focused control.
TEST(SettingsValidation, ReportsInTheDialogsOrder) {
    LanguageScope english(Language::English);
    AppSettings settings;
    settings.AutoTrim.EdgeType = 10;
    settings.AutoTrim.SpaceType = 16;
    settings.AutoTrim.SetFlag(AutoTrimParams::FlagOutputSize, true);
    settings.AutoTrim.Output = {0, 0};
    settings.JpegQuality = 101;
    settings.ThreadCount = 0;
    const auto expect = [&](const char* subFolder, std::uint32_t id, int control,
                            const std::string& message = {}) {
        AppSettings copy = settings;
        const SettingsCheck check = ValidateSettings(copy, "", subFolder);
        EXPECT_EQ(check.error.id, id);
        EXPECT_EQ(check.control, control);
        EXPECT_TRUE(message.empty() || check.error.message == message) << check.error.message;
    };

    expect("", 40006, 143, "invalid edge type for rotate");
    settings.AutoTrim.EdgeType = 9;
    expect("", 40034, 147);
    settings.AutoTrim.SpaceType = 0;  // auto needs an empty image
    expect("", 40035, 147);
    settings.AutoTrim.SpaceType = 15;
    expect("", 40040, 153, "Uncheck output size or input over 0");
    settings.AutoTrim.Output = {1, 0};
    expect("", 40040, 154);
    settings.AutoTrim.Output = {1, 1};
    expect("", 40018, 148);
    expect("trim", 40012, 152, "Jpeg quality exceeds range 0 ~ 100");
    settings.JpegQuality = -1;
    expect("trim", 40012, 152);
    settings.JpegQuality = 0;
    expect("trim", 58589, 149, "The number is too small: 0");
    settings.ThreadCount = -3;
    expect("trim", 58589, 149, "The number is too small: -3");

    settings.ThreadCount = 150;  // no upper bound here
    settings.JpegQuality = 100;
    EXPECT_FALSE(ValidateSettings(settings, "", "trim").Failed());
}

// The histories take the read texts even when a later check fails (the
// batch discards such a copy); the same text twice is listed once. Without
// texts the record's first entries are read; no SubFolder means "trim".
TEST(SettingsValidation, UpdatesHistoriesAndReadsTheRecord) {
    AppSettings settings;
    settings.AutoTrim.SpaceType = 1;
    settings.AutoTrim.Output = {-5, 0};  // ignored without the output-size flag
    settings.EmptyPath = {"/a.png", "/b.png"};
    settings.SubFolder = {"trim", "out"};
    ASSERT_FALSE(ValidateSettings(settings, "/b.png", "out").Failed());
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"/b.png", "/a.png"}));
    EXPECT_EQ(settings.SubFolder, (HistoryList{"out", "trim"}));

    settings.ThreadCount = 0;
    EXPECT_TRUE(ValidateSettings(settings, "", "new").Failed());
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"", "/b.png", "/a.png"}));
    EXPECT_EQ(settings.SubFolder, (HistoryList{"new", "out", "trim"}));

    AppSettings record;
    record.SubFolder.clear();
    record.EmptyPath = {"/e.png"};  // auto sides with an empty image
    ASSERT_FALSE(ValidateSettings(record).Failed());
    EXPECT_EQ(record.SubFolder, (HistoryList{"trim"}));
    record.EmptyPath = {"", "/e.png"};
    EXPECT_EQ(ValidateSettings(record).error.id, 40035u);
    record.AutoTrim.SpaceType = 1;
    record.SubFolder = {"", "trim"};
    EXPECT_EQ(ValidateSettings(record).error.id, 40018u);
}
