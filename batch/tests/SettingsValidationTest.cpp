#include "batch/SettingsValidation.h"

#include <gtest/gtest.h>

#include "msg/tests/LanguageScope.h"

using qv::SettingsCheck;
using qv::ValidateSettings;

namespace {

// A record with every checked value wrong at once.
AppSettings AllWrong() {
    AppSettings settings;
    settings.AutoTrim.EdgeType = 10;
    settings.AutoTrim.SpaceType = 16;
    settings.AutoTrim.SetFlag(AutoTrimParams::FlagOutputSize, true);
    settings.AutoTrim.Output = {0, 0};
    settings.JpegQuality = 101;
    settings.ThreadCount = 0;
    return settings;
}

}  // namespace

// Each fault is reported only once every earlier one is fixed: the dialog's
// order, the message texts and the control that gets the focus.
TEST(SettingsValidation, ReportsInTheDialogsOrder) {
    LanguageScope english(Language::English);
    AppSettings settings = AllWrong();
    const auto validate = [&](const char* subFolder) {
        AppSettings copy = settings;
        return ValidateSettings(copy, "", subFolder);
    };

    SettingsCheck check = validate("");
    EXPECT_EQ(check.error.id, 40006u);
    EXPECT_EQ(check.error.message, "invalid edge type for rotate");
    EXPECT_EQ(check.control, 143);

    settings.AutoTrim.EdgeType = 9;
    check = validate("");
    EXPECT_EQ(check.error.id, 40034u);
    EXPECT_EQ(check.control, 147);

    settings.AutoTrim.SpaceType = 0;  // auto needs an empty image
    check = validate("");
    EXPECT_EQ(check.error.id, 40035u);
    EXPECT_EQ(check.control, 147);

    settings.AutoTrim.SpaceType = 15;
    check = validate("");
    EXPECT_EQ(check.error.id, 40040u);
    EXPECT_EQ(check.error.message, "Uncheck output size or input over 0");
    EXPECT_EQ(check.control, 153);

    settings.AutoTrim.Output = {1, 0};
    check = validate("");
    EXPECT_EQ(check.error.id, 40040u);
    EXPECT_EQ(check.control, 154);

    settings.AutoTrim.Output = {1, 1};
    check = validate("");
    EXPECT_EQ(check.error.id, 40018u);
    EXPECT_EQ(check.control, 148);

    check = validate("trim");
    EXPECT_EQ(check.error.id, 40012u);
    EXPECT_EQ(check.error.message, "Jpeg quality exceeds range 0 ~ 100");
    EXPECT_EQ(check.control, 152);

    settings.JpegQuality = -1;
    EXPECT_EQ(validate("trim").error.id, 40012u);

    settings.JpegQuality = 0;
    check = validate("trim");
    EXPECT_EQ(check.error.id, 58589u);
    EXPECT_EQ(check.error.message, "The number is too small: 0");
    EXPECT_EQ(check.control, 149);

    settings.ThreadCount = -3;
    EXPECT_EQ(validate("trim").error.message, "The number is too small: -3");

    settings.ThreadCount = 150;  // no upper bound here
    settings.JpegQuality = 100;
    EXPECT_FALSE(validate("trim").Failed());
}

TEST(SettingsValidation, BoundaryValuesPass) {
    AppSettings settings;
    settings.AutoTrim.EdgeType = 0;
    settings.AutoTrim.SpaceType = 0;  // auto, with an empty image given
    settings.AutoTrim.SetFlag(AutoTrimParams::FlagOutputSize, false);
    settings.AutoTrim.Output = {-5, 0};  // ignored without the flag
    settings.ThreadCount = 1;
    EXPECT_FALSE(ValidateSettings(settings, "/scans/empty.png", "out").Failed());
    EXPECT_EQ(settings.EmptyPath.front(), "/scans/empty.png");
}

// The histories take the read texts even when a later check fails (the
// batch discards such a copy); the same text twice is listed once.
TEST(SettingsValidation, UpdatesHistories) {
    AppSettings settings;
    settings.AutoTrim.SpaceType = 1;
    settings.EmptyPath = {"/a.png", "/b.png"};
    settings.SubFolder = {"trim", "out"};

    ASSERT_FALSE(ValidateSettings(settings, "/b.png", "out").Failed());
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"/b.png", "/a.png"}));
    EXPECT_EQ(settings.SubFolder, (HistoryList{"out", "trim"}));

    settings.ThreadCount = 0;
    EXPECT_TRUE(ValidateSettings(settings, "", "new").Failed());
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"", "/b.png", "/a.png"}));
    EXPECT_EQ(settings.SubFolder, (HistoryList{"new", "out", "trim"}));
}

// Without texts the record's own first entries are read: an empty
// SubFolder list means "trim", an empty first entry is an empty name.
TEST(SettingsValidation, RecordAsItStands) {
    AppSettings settings;
    settings.AutoTrim.SpaceType = 1;
    settings.SubFolder.clear();
    ASSERT_FALSE(ValidateSettings(settings).Failed());
    EXPECT_EQ(settings.SubFolder, (HistoryList{"trim"}));
    EXPECT_EQ(settings.EmptyPath, (HistoryList{""}));

    settings.SubFolder = {"", "trim"};
    EXPECT_EQ(ValidateSettings(settings).error.id, 40018u);

    AppSettings autoWithEmpty;
    autoWithEmpty.EmptyPath = {"/e.png"};
    EXPECT_FALSE(ValidateSettings(autoWithEmpty).Failed());
    autoWithEmpty.EmptyPath = {"", "/e.png"};
    EXPECT_EQ(ValidateSettings(autoWithEmpty).error.id, 40035u);
}
