#include "batch/SettingsValidation.h"

#include <gtest/gtest.h>

#include <functional>

#include "msg/tests/LanguageScope.h"

using qv::SettingsCheck;
using qv::SettingsField;
using qv::ValidateSettings;
using F = SettingsField;

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
    const auto expect = [&](const char* subFolder, std::uint32_t id, SettingsField field,
                            const std::string& message = {}) {
        AppSettings copy = settings;
        const SettingsCheck check = ValidateSettings(copy, "", subFolder);
        EXPECT_EQ(check.error.id, id);
        EXPECT_EQ(check.field, field);
        EXPECT_TRUE(message.empty() || check.error.message == message) << check.error.message;
    };

    expect("", 40006, F::RotateEdge, "invalid edge type for rotate");
    settings.AutoTrim.EdgeType = 9;
    expect("", 40034, F::TrimEdges);
    settings.AutoTrim.SpaceType = 0;  // auto needs an empty image
    expect("", 40035, F::TrimEdges);
    settings.AutoTrim.SpaceType = 15;
    expect("", 40040, F::OutputWidth, "Uncheck output size or input over 0");
    settings.AutoTrim.Output = {1, 0};
    expect("", 40040, F::OutputHeight);
    settings.AutoTrim.Output = {1, 1};
    expect("", 40018, F::SubFolder);
    expect("trim", 40012, F::JpegQuality, "Jpeg quality exceeds range 0 ~ 100");
    settings.JpegQuality = -1;
    expect("trim", 40012, F::JpegQuality);
    settings.JpegQuality = 0;
    expect("trim", 58589, F::ThreadCount, "The number is too small: 0");
    settings.ThreadCount = -3;
    expect("trim", 58589, F::ThreadCount, "The number is too small: -3");

    settings.ThreadCount = 150;  // used as the command line's cap
    settings.JpegQuality = 100;
    EXPECT_FALSE(ValidateSettings(settings, "", "trim").Failed());
    EXPECT_EQ(settings.ThreadCount, 99);
}

// What a window's controls hold: a text that is no number, or a list with
// nothing chosen, names the field by the caption the window gives it.
TEST(SettingsValidation, ReadsTheWindowsTextsNamingTheFieldThatFails) {
    LanguageScope english(Language::English);
    AppSettings base;
    const qv::SettingsInput valid = qv::InputOf(base, "", "trim");
    const qv::FieldCaption caption = [](SettingsField field) {
        return field == F::ThreadCount ? std::string("Threads") : std::string("field");
    };
    struct Case {
        const char* name;
        std::function<void(qv::SettingsInput&)> edit;
        std::string message;  // "" when valid
        SettingsField field;
    };
    const std::vector<Case> cases = {
        {"rotation not chosen", [](auto& in) { in.rotateEdge.reset(); },
         "failed to get a value from a combobox: field", F::RotateEdge},
        {"ticked output size, width empty",
         [](auto& in) {
             in.outputSize = true;
             in.outputWidth = " ";
         },
         "Uncheck output size or input over 0", F::OutputWidth},
        {"not ticked, width empty reads 0", [](auto& in) { in.outputWidth = ""; }, "", F::None},
        {"height no number", [](auto& in) { in.outputHeight = "1x"; },
         "failed to get a value from a editbox: field", F::OutputHeight},
        {"no format chosen", [](auto& in) { in.saveType.reset(); },
         "Invalid save image type is specified", F::SaveType},
        {"addend no number", [](auto& in) { in.sizeToOutputAdd = "-"; },
         "failed to get a value from a combobox: field", F::SizeToOutputAdd},
        {"threads no number", [](auto& in) { in.threadCount = "two"; },
         "failed to get a value from a combobox: Threads", F::ThreadCount},
        {"threads 0", [](auto& in) { in.threadCount = "0"; }, "The number is too small: 0",
         F::ThreadCount},
        {"threads 12.7", [](auto& in) { in.threadCount = "12.7"; }, "", F::None},
    };
    for (const Case& c : cases) {
        qv::SettingsInput in = valid;
        c.edit(in);
        AppSettings read = base;
        const SettingsCheck check = qv::ApplySettingsInput(read, in, caption);
        EXPECT_EQ(check.error.message, c.message) << c.name;
        EXPECT_EQ(check.field, c.field) << c.name;
        if (c.message.empty() && in.threadCount == "12.7") {
            EXPECT_EQ(read.ThreadCount, 12);
        }
    }
}

TEST(DecimalText, ReadsTheWindowsNumbers) {
    // {text, value}; kBad for text that is no number.
    constexpr LONG kBad = 12345;
    const std::pair<const char*, LONG> cases[] = {
        {"", 0},
        {"12.7", 12},
        {"-3.", -3},
        {"+5", 5},
        {"1.2.3", kBad},
        {"1e3", kBad},
        {".5", kBad},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) {
        LONG value = kBad;
        EXPECT_EQ(qv::ReadDecimal(text, value), expected != kBad) << text;
        EXPECT_EQ(value, expected) << text;
    }
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
    record.AutoTrim.SpaceType = TrimEdgesAuto;
    record.EmptyPath = {"/e.png"};  // auto sides with an empty image
    ASSERT_FALSE(ValidateSettings(record).Failed());
    EXPECT_EQ(record.SubFolder, (HistoryList{"trim"}));
    record.EmptyPath = {"", "/e.png"};
    EXPECT_EQ(ValidateSettings(record).error.id, 40035u);
    record.AutoTrim.SpaceType = 1;
    record.SubFolder = {"", "trim"};
    EXPECT_EQ(ValidateSettings(record).error.id, 40018u);
}
