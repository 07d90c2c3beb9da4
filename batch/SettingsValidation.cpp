#include "batch/SettingsValidation.h"

#include <string>

#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "trim/AutoTrimParams.h"

namespace qv {

namespace {

constexpr std::uint32_t kMaxEdgeType = 9;
constexpr std::uint32_t kMaxSpaceType = 15;

template <class... Args>
SettingsCheck Fail(int control, std::uint32_t id, const Args&... args) {
    SettingsCheck check;
    check.error.Set(id, args...);
    check.control = control;
    return check;
}

}  // namespace

SettingsCheck ApplyEmptyPath(AppSettings& settings, std::string_view path) {
    AppSettings::AddToHistory(settings.EmptyPath, path);
    return {};
}

SettingsCheck CheckEdgeType(const AppSettings& settings) {
    if (settings.AutoTrim.EdgeType > kMaxEdgeType) {
        return Fail(kCtlRotateCombo, kMsgInvalidRotateEdge);
    }
    return {};
}

SettingsCheck CheckSpaceType(const AppSettings& settings) {
    if (settings.AutoTrim.SpaceType > kMaxSpaceType) {
        return Fail(kCtlTrimEdgesCombo, kMsgInvalidTrimEdges);
    }
    if (settings.AutoTrim.SpaceType == 0 && settings.EmptyImagePath().empty()) {
        return Fail(kCtlTrimEdgesCombo, kMsgAutoNeedsEmpty);
    }
    return {};
}

SettingsCheck CheckOutputSize(const AppSettings& settings) {
    if (!settings.AutoTrim.HasFlag(AutoTrimParams::FlagOutputSize)) {
        return {};
    }
    if (settings.AutoTrim.Output.cx < 1) {
        return Fail(kCtlOutputCxEdit, kMsgOutputSizeBelowOne);
    }
    if (settings.AutoTrim.Output.cy < 1) {
        return Fail(kCtlOutputCyEdit, kMsgOutputSizeBelowOne);
    }
    return {};
}

SettingsCheck ApplySubFolder(AppSettings& settings, std::string_view name) {
    if (name.empty()) {
        return Fail(kCtlSubFolderCombo, kMsgSubFolderEmpty);
    }
    // The name is joined to each source's folder, and the results must stay
    // below it: an absolute path, "." or ".." would put them (and replace
    // files) anywhere else.
    if (!AppSettings::IsPlainSubFolderName(name)) {
        return Fail(kCtlSubFolderCombo, kMsgPathInvalid, std::string(name));
    }
    AppSettings::AddToHistory(settings.SubFolder, name);
    return {};
}

SettingsCheck CheckJpegQuality(const AppSettings& settings) {
    if (settings.JpegQuality < AppSettings::MinJpegQuality ||
        settings.JpegQuality > AppSettings::MaxJpegQuality) {
        return Fail(kCtlJpegQualityEdit, kMsgJpegQualityRange, AppSettings::MinJpegQuality,
                    AppSettings::MaxJpegQuality);
    }
    return {};
}

SettingsCheck CheckThreadCount(const AppSettings& settings) {
    if (settings.ThreadCount < AppSettings::MinThreadCount) {
        return Fail(kCtlThreadCombo, kMsgNumberTooSmall, settings.ThreadCount);
    }
    return {};
}

SettingsCheck ValidateSettings(AppSettings& settings, std::string_view emptyPath,
                               std::string_view subFolder) {
    // The texts may view entries of the histories that are about to change.
    const std::string emptyPathText(emptyPath);
    const std::string subFolderText(subFolder);
    SettingsCheck check = ApplyEmptyPath(settings, emptyPathText);
    if (!check.Failed())
        check = CheckEdgeType(settings);
    if (!check.Failed())
        check = CheckSpaceType(settings);
    if (!check.Failed())
        check = CheckOutputSize(settings);
    if (!check.Failed())
        check = ApplySubFolder(settings, subFolderText);
    if (!check.Failed())
        check = CheckJpegQuality(settings);
    if (!check.Failed())
        check = CheckThreadCount(settings);
    return check;
}

SettingsCheck ValidateSettings(AppSettings& settings) {
    const std::string emptyPath = settings.EmptyImagePath();
    // A first entry of "" reads as empty (40018); only an empty list reads "trim".
    const std::string subFolder = settings.SubFolderName();
    return ValidateSettings(settings, emptyPath, subFolder);
}

}  // namespace qv
