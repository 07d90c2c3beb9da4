#include "trim/AppSettings.h"

#include <algorithm>

std::string AppSettings::EmptyImagePath() const {
    return EmptyPath.empty() ? std::string() : EmptyPath.front();
}

std::string AppSettings::SubFolderName() const {
    return SubFolder.empty() ? std::string(DefaultSubFolder) : SubFolder.front();
}

std::string_view AppSettings::Extension() const {
    switch (SaveType) {
        case SaveTypeBmp:
            return "bmp";
        case SaveTypeJpeg:
            return "jpg";
        case SaveTypeTiff:
            return "tif";
        default:
            return "png";
    }
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
    SizeToOutputAdd = defaults.SizeToOutputAdd;
    ThreadCount = defaults.ThreadCount;
    AutoTrim = defaults.AutoTrim;
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
