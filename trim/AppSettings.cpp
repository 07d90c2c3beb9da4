#include "trim/AppSettings.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "image_io/OutputFormats.h"

std::string AppSettings::EmptyImagePath() const {
    return EmptyPath.empty() ? std::string() : EmptyPath.front();
}

std::string AppSettings::SubFolderName() const {
    return SubFolder.empty() ? std::string(DefaultSubFolder) : SubFolder.front();
}

std::string_view AppSettings::Extension() const {
    return OutputFormatOf(SaveType).extension;
}

bool AppSettings::ApplyFormatOption(std::string_view value) {
    const std::size_t comma = value.find(',');
    const OutputFormat* format = OutputFormatByKeyword(value.substr(0, comma));
    if (format == nullptr) {
        return false;
    }
    if (comma == std::string_view::npos) {
        SaveType = format->saveType;
        return true;
    }
    const std::string_view option = value.substr(comma + 1);
    switch (format->option) {
        case FormatOption::None:
            return false;
        case FormatOption::Quality: {
            if (option.empty() ||
                option.find_first_not_of("0123456789") != std::string_view::npos) {
                return false;
            }
            SaveType = format->saveType;
            JpegQuality = Int32FromDigits(option);
            return true;
        }
        case FormatOption::Compression: {
            const std::optional<std::uint32_t> choice = FormatChoiceValue(*format, option);
            if (!choice) {
                return false;
            }
            SaveType = format->saveType;
            TiffCompression = static_cast<LONG>(*choice);
            return true;
        }
    }
    return false;
}

std::string AppSettings::FormatOptionValue() const {
    const OutputFormat& format = OutputFormatOf(SaveType);
    std::string value(format.keywords[0]);
    switch (format.option) {
        case FormatOption::None:
            break;
        case FormatOption::Quality:
            value += "," + std::to_string(JpegQuality);
            break;
        case FormatOption::Compression: {
            // An unknown value is saved with the default.
            const auto chosen = [&](std::uint32_t v) {
                return std::find_if(format.choices.begin(), format.choices.end(),
                                    [v](const FormatChoice& c) { return c.value == v; });
            };
            auto choice = chosen(static_cast<std::uint32_t>(TiffCompression));
            if (choice == format.choices.end()) {
                choice = chosen(format.defaultOption);
            }
            value += "," + std::string(choice->keyword);
            break;
        }
    }
    return value;
}

void AppSettings::AddToHistory(HistoryList& list, std::string_view text) {
    // Copied first: `text` may point into an entry that is about to be erased.
    std::string entry(text);
    std::erase(list, entry);
    list.insert(list.begin(), std::move(entry));
    if (list.size() > MaxHistory) {
        list.resize(MaxHistory);
    }
}

LONG AppSettings::ClampThreadCount(LONG count) {
    return std::clamp(count, MinThreadCount, MaxStoredThreadCount);
}

bool AppSettings::IsPlainSubFolderName(std::string_view name) {
    if (name.empty() || name.front() == '/') {
        return false;
    }
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

void AppSettings::ResetToDefaults() {
    const AppSettings defaults;
    AddToHistory(EmptyPath, "");
    AddToHistory(SubFolder, DefaultSubFolder);
    SaveType = defaults.SaveType;
    JpegQuality = defaults.JpegQuality;
    TiffCompression = defaults.TiffCompression;
    SizeToOutputAdd = defaults.SizeToOutputAdd;
    ThreadCount = defaults.ThreadCount;
    AutoTrim = defaults.AutoTrim;
}

std::int32_t Int32FromDigits(std::string_view digits) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t number = 0;
    for (const char c : digits) {
        number = number * 10 + (c - '0');
        if (number > kMax) {
            return static_cast<std::int32_t>(kMax);
        }
    }
    return static_cast<std::int32_t>(number);
}

AppSettings KeepWithinRange(const AppSettings& wanted, const AppSettings& fallback, int* replaced) {
    AppSettings kept = wanted;
    int count = 0;
    const auto keep = [&count](auto& field, const auto& fallbackValue, bool valid) {
        if (!valid) {
            field = fallbackValue;
            ++count;
        }
    };
    const auto within = [](LONG value, LONG low, LONG high) {
        return value >= low && value <= high;
    };
    keep(kept.SaveType, fallback.SaveType, within(wanted.SaveType, SaveTypeBmp, SaveTypeTiff));
    keep(kept.JpegQuality, fallback.JpegQuality,
         within(wanted.JpegQuality, AppSettings::MinJpegQuality, AppSettings::MaxJpegQuality));
    keep(
        kept.ThreadCount, fallback.ThreadCount,
        within(wanted.ThreadCount, AppSettings::MinThreadCount, AppSettings::MaxStoredThreadCount));

    AutoTrimParams& trim = kept.AutoTrim;
    const AutoTrimParams& want = wanted.AutoTrim;
    const AutoTrimParams& back = fallback.AutoTrim;
    keep(trim.EdgeType, back.EdgeType, want.EdgeType < RotateEdgeCount);
    keep(trim.SpaceType, back.SpaceType, want.SpaceType < TrimEdgesCount);
    if (want.HasFlag(AutoTrimParams::FlagOutputSize) &&
        (want.Output.cx < 1 || want.Output.cy < 1)) {
        trim.SetFlag(AutoTrimParams::FlagOutputSize, back.HasFlag(AutoTrimParams::FlagOutputSize));
        trim.Output = back.Output;
        ++count;
    }
    keep(trim.MedianCount, back.MedianCount,
         within(want.MedianCount, 0, AutoTrimParams::MaxMedianCount));
    keep(trim.SmallMedianCount, back.SmallMedianCount,
         within(want.SmallMedianCount, 0, AutoTrimParams::MaxMedianCount));

    count += static_cast<int>(std::erase_if(kept.SubFolder, [](const std::string& name) {
        return !AppSettings::IsPlainSubFolderName(name);
    }));
    if (replaced != nullptr) {
        *replaced = count;
    }
    return kept;
}
