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
