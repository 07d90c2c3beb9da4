// Validation of the settings at batch start: the one place that knows the
// order in which the window's values are read and checked, and which field
// each failure belongs to.
//
// A window reads its controls into a SettingsInput (texts as typed, list
// choices as values) and ApplySettingsInput reads that into a copy of the
// global AppSettings, checking each value right after reading it and
// stopping at the first failure:
//   1. empty-image path    added to the EmptyPath history (never fails)
//   2. rotation edge       nothing chosen 40009; above 9 40006
//   3. trim edges          nothing chosen 40009; above 15 40034; auto (0)
//                          without an empty image 40035
//   4. deep cut, output size flags
//   5. output width, height  text no number 40011; below 1 with the output-
//                          size flag 40040 (any value without it)
//   6. additional-trim flag, trim width, height  text no number 40011
//   7. subfolder name      empty 40018; no plain subfolder name (absolute,
//                          a "." or ".." part: IsPlainSubFolderName) 40019
//                          naming it; else added to the SubFolder history
//   8. save type           nothing chosen 40013; its TIFF compression (a
//                          choice, never fails)
//   9. JPEG quality        text no number 40011; outside 0..100 40012
//  10. size addend         text no number 40009
//  11. thread count        text no number 40009; below 1 58589 with the
//                          number; above 99 used as 99
// 40009 and 40011 name the field by the caption the window gives it. A
// failure names its field (SettingsField); the window maps the field to the
// control that gets the focus. Numbers are read by ReadDecimal.
//
// A failed check leaves the record as far as it was filled: the histories
// may already hold the new entries. The batch then discards the copy.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "msg/SimpleErr.h"
#include "trim/AppSettings.h"

namespace qv {

// The settings a person can get wrong, in reading order.
enum class SettingsField : std::uint8_t {
    None,
    EmptyPath,
    RotateEdge,
    TrimEdges,
    OutputWidth,
    OutputHeight,
    TrimWidth,
    TrimHeight,
    SubFolder,
    SaveType,
    JpegQuality,
    SizeToOutputAdd,
    ThreadCount,
};

// The outcome of a check: no error (error.id 0), or the finished error
// record and the field that gets the focus after it was shown (None: no
// field is to blame).
struct SettingsCheck {
    CSimpleErr error;
    SettingsField field = SettingsField::None;

    bool Failed() const { return error.Failed(); }
};

// What a settings window holds: the two history texts as they are to be
// kept (a window trims them), numbers as typed, list choices as values,
// nullopt where nothing is chosen.
struct SettingsInput {
    std::string emptyPath;
    std::optional<std::uint32_t> rotateEdge;  // a RotateEdge value
    std::optional<std::uint32_t> trimEdges;   // a TrimEdges value
    bool deepCut = false;
    bool outputSize = false;
    std::string outputWidth, outputHeight;
    bool additionalTrim = false;
    std::string trimWidth, trimHeight;
    std::string subFolder;
    std::optional<LONG> saveType;  // a SaveFormat value
    // A TIFF Compression tag value (AppSettings::TiffCompression); none
    // leaves the record's as it is.
    std::optional<std::uint32_t> tiffCompression;
    std::string jpegQuality;
    std::string sizeToOutputAdd;
    std::string threadCount;
};

// The caption of a field in the interface language ("Threads"), for the
// messages that name it.
using FieldCaption = std::function<std::string(SettingsField)>;

// Reads `input` into `settings` in the order above; the first failure, or
// no error.
SettingsCheck ApplySettingsInput(AppSettings& settings, const SettingsInput& input,
                                 const FieldCaption& caption);

// The input a window filled from `settings` would hold, with `emptyPath`
// and `subFolder` as the texts of the two history boxes.
SettingsInput InputOf(const AppSettings& settings, std::string_view emptyPath,
                      std::string_view subFolder);

// Every check over a record whose fields are already set (the window-less
// batch, tests), with the given texts for the two histories.
SettingsCheck ValidateSettings(AppSettings& settings, std::string_view emptyPath,
                               std::string_view subFolder);
// The same with the record's own current entries (EmptyImagePath(),
// SubFolderName()), as a hidden window filled from the record would read.
SettingsCheck ValidateSettings(AppSettings& settings);

// A number of `field` read from `text` (trimmed first) by ReadDecimal; on
// text that is no number the error `messageId` (40009 or 40011) naming the
// field's caption, `value` untouched.
SettingsCheck ReadFieldNumber(SettingsField field, std::string_view text, std::uint32_t messageId,
                              const FieldCaption& caption, LONG& value);
// JpegQuality outside 0..100: 40012 with 0 and 100.
SettingsCheck CheckJpegQuality(const AppSettings& settings);

// The text with leading and trailing white space (carriage returns and line
// feeds included) removed.
std::string TrimControlText(std::string_view text);

// The decimal reader of numbers typed into the window: an optional '+' or
// '-', one or more digits, then optionally a point with or without further
// digits. The fraction is dropped (12.7 reads 12, -3. reads -3); a value
// beyond the 32-bit range reads as its nearest bound; an empty text reads 0.
// False, `value` untouched, for anything else. `text` is already trimmed.
bool ReadDecimal(std::string_view text, LONG& value);

}  // namespace qv
