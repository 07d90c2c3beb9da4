#include "batch/SettingsValidation.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <limits>

#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "trim/AutoTrimParams.h"

namespace qv {

namespace {

template <class... Args>
SettingsCheck Fail(SettingsField field, std::uint32_t id, const Args&... args) {
    SettingsCheck check;
    check.error.Set(id, args...);
    check.field = field;
    return check;
}

SettingsCheck NotChosen(SettingsField field, const FieldCaption& caption) {
    return Fail(field, kMsgComboValueFailed, caption ? caption(field) : std::string());
}

SettingsCheck CheckEdgeType(const AppSettings& settings) {
    if (settings.AutoTrim.EdgeType >= RotateEdgeCount) {
        return Fail(SettingsField::RotateEdge, kMsgInvalidRotateEdge);
    }
    return {};
}

SettingsCheck CheckSpaceType(const AppSettings& settings) {
    if (settings.AutoTrim.SpaceType >= TrimEdgesCount) {
        return Fail(SettingsField::TrimEdges, kMsgInvalidTrimEdges);
    }
    if (settings.AutoTrim.SpaceType == TrimEdgesAuto && settings.EmptyImagePath().empty()) {
        return Fail(SettingsField::TrimEdges, kMsgAutoNeedsEmpty);
    }
    return {};
}

SettingsCheck CheckOutputSize(const AppSettings& settings) {
    if (!settings.AutoTrim.HasFlag(AutoTrimParams::FlagOutputSize)) {
        return {};
    }
    if (settings.AutoTrim.Output.cx < 1) {
        return Fail(SettingsField::OutputWidth, kMsgOutputSizeBelowOne);
    }
    if (settings.AutoTrim.Output.cy < 1) {
        return Fail(SettingsField::OutputHeight, kMsgOutputSizeBelowOne);
    }
    return {};
}

SettingsCheck ApplySubFolder(AppSettings& settings, const std::string& name) {
    if (name.empty()) {
        return Fail(SettingsField::SubFolder, kMsgSubFolderEmpty);
    }
    // The name is joined to each source's folder, and the results must stay
    // below it: an absolute path, "." or ".." would put them (and replace
    // files) anywhere else.
    if (!AppSettings::IsPlainSubFolderName(name)) {
        return Fail(SettingsField::SubFolder, kMsgPathInvalid, name);
    }
    AppSettings::AddToHistory(settings.SubFolder, name);
    return {};
}

SettingsCheck CheckThreadCount(const AppSettings& settings) {
    if (settings.ThreadCount < AppSettings::MinThreadCount) {
        return Fail(SettingsField::ThreadCount, kMsgNumberTooSmall, settings.ThreadCount);
    }
    return {};
}

}  // namespace

SettingsCheck ApplySettingsInput(AppSettings& s, const SettingsInput& in,
                                 const FieldCaption& caption) {
    AutoTrimParams& p = s.AutoTrim;
    SettingsCheck check;
    // Each step reads its value, then checks what it read.
    const auto failed = [&check](SettingsCheck result) {
        check = std::move(result);
        return check.Failed();
    };
    const auto number = [&](SettingsField field, const std::string& text, std::uint32_t id,
                            LONG& value) {
        return failed(ReadFieldNumber(field, text, id, caption, value));
    };
    AppSettings::AddToHistory(s.EmptyPath, in.emptyPath);

    if (!in.rotateEdge) {
        return NotChosen(SettingsField::RotateEdge, caption);
    }
    p.EdgeType = *in.rotateEdge;
    if (failed(CheckEdgeType(s))) {
        return check;
    }
    if (!in.trimEdges) {
        return NotChosen(SettingsField::TrimEdges, caption);
    }
    p.SpaceType = *in.trimEdges;
    if (failed(CheckSpaceType(s))) {
        return check;
    }
    p.SetFlag(AutoTrimParams::FlagDeepCut, in.deepCut);
    p.SetFlag(AutoTrimParams::FlagOutputSize, in.outputSize);
    if (number(SettingsField::OutputWidth, in.outputWidth, kMsgEditValueFailed, p.Output.cx) ||
        number(SettingsField::OutputHeight, in.outputHeight, kMsgEditValueFailed, p.Output.cy) ||
        failed(CheckOutputSize(s))) {
        return check;
    }
    p.SetFlag(AutoTrimParams::FlagAdditionalTrim, in.additionalTrim);
    if (number(SettingsField::TrimWidth, in.trimWidth, kMsgEditValueFailed, p.Trim.cx) ||
        number(SettingsField::TrimHeight, in.trimHeight, kMsgEditValueFailed, p.Trim.cy) ||
        failed(ApplySubFolder(s, in.subFolder))) {
        return check;
    }
    if (!in.saveType) {
        return Fail(SettingsField::SaveType, kMsgInvalidSaveType);
    }
    s.SaveType = *in.saveType;
    if (in.tiffCompression) {
        s.TiffCompression = static_cast<LONG>(*in.tiffCompression);
    }
    if (number(SettingsField::JpegQuality, in.jpegQuality, kMsgEditValueFailed, s.JpegQuality) ||
        failed(CheckJpegQuality(s)) ||
        number(SettingsField::SizeToOutputAdd, in.sizeToOutputAdd, kMsgComboValueFailed,
               s.SizeToOutputAdd) ||
        number(SettingsField::ThreadCount, in.threadCount, kMsgComboValueFailed, s.ThreadCount) ||
        failed(CheckThreadCount(s))) {
        return check;
    }
    // No more workers than a command line may ask for: a typed 100000 would
    // otherwise start as many threads.
    s.ThreadCount = std::min(s.ThreadCount, AppSettings::MaxStoredThreadCount);
    return check;
}

SettingsInput InputOf(const AppSettings& s, std::string_view emptyPath,
                      std::string_view subFolder) {
    const AutoTrimParams& p = s.AutoTrim;
    SettingsInput in;
    in.emptyPath = emptyPath;
    in.rotateEdge = p.EdgeType;
    in.trimEdges = p.SpaceType;
    in.deepCut = p.HasFlag(AutoTrimParams::FlagDeepCut);
    in.outputSize = p.HasFlag(AutoTrimParams::FlagOutputSize);
    in.outputWidth = std::to_string(p.Output.cx);
    in.outputHeight = std::to_string(p.Output.cy);
    in.additionalTrim = p.HasFlag(AutoTrimParams::FlagAdditionalTrim);
    in.trimWidth = std::to_string(p.Trim.cx);
    in.trimHeight = std::to_string(p.Trim.cy);
    in.subFolder = subFolder;
    in.saveType = s.SaveType;
    in.tiffCompression = static_cast<std::uint32_t>(s.TiffCompression);
    in.jpegQuality = std::to_string(s.JpegQuality);
    in.sizeToOutputAdd = std::to_string(s.SizeToOutputAdd);
    in.threadCount = std::to_string(s.ThreadCount);
    return in;
}

SettingsCheck ValidateSettings(AppSettings& settings, std::string_view emptyPath,
                               std::string_view subFolder) {
    const SettingsInput input = InputOf(settings, emptyPath, subFolder);
    return ApplySettingsInput(settings, input, FieldCaption());
}

SettingsCheck ValidateSettings(AppSettings& settings) {
    // A first entry of "" reads as empty (40018); only an empty list reads "trim".
    return ValidateSettings(settings, settings.EmptyImagePath(), settings.SubFolderName());
}

SettingsCheck ReadFieldNumber(SettingsField field, std::string_view text, std::uint32_t messageId,
                              const FieldCaption& caption, LONG& value) {
    if (!ReadDecimal(TrimControlText(text), value)) {
        return Fail(field, messageId, caption ? caption(field) : std::string());
    }
    return {};
}

SettingsCheck CheckJpegQuality(const AppSettings& settings) {
    if (settings.JpegQuality < AppSettings::MinJpegQuality ||
        settings.JpegQuality > AppSettings::MaxJpegQuality) {
        return Fail(SettingsField::JpegQuality, kMsgJpegQualityRange, AppSettings::MinJpegQuality,
                    AppSettings::MaxJpegQuality);
    }
    return {};
}

std::string TrimControlText(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kSpace);
    return std::string(text.substr(first, last - first + 1));
}

bool ReadDecimal(std::string_view text, LONG& value) {
    if (text.empty()) {
        value = 0;
        return true;
    }
    static const boost::regex kNumber(R"(^((?:\+?|-?)[0-9]+)(?:\.?|\.([0-9]+))$)");
    boost::match_results<std::string_view::const_iterator> match;
    if (!boost::regex_match(text.begin(), text.end(), match, kNumber)) {
        return false;
    }
    long long magnitude = 0;
    for (auto it = match[1].first; it != match[1].second; ++it) {
        if (*it >= '0' && *it <= '9') {
            // Held just beyond the range, so the bound below decides.
            magnitude = std::min(magnitude * 10 + (*it - '0'), 1LL << 32);
        }
    }
    const long long signedValue = *match[1].first == '-' ? -magnitude : magnitude;
    value = static_cast<LONG>(std::clamp<long long>(signedValue, std::numeric_limits<LONG>::min(),
                                                    std::numeric_limits<LONG>::max()));
    return true;
}

}  // namespace qv
