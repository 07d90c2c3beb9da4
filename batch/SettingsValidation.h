// Validation of the dialog's settings at batch start.
//
// The main window reads its controls one at a time into a copy of the global
// AppSettings and checks each value right after reading it, with the checks
// below, in the dialog's order:
//   1. empty-image path    ApplyEmptyPath     (history update, never fails)
//   2. rotation edge       CheckEdgeType      40006, control 143
//   3. trim edges          CheckSpaceType     40034 / 40035, control 147
//   4. output size         CheckOutputSize    40040, control 153 or 154
//   5. subfolder name      ApplySubFolder     40018 / 40019, control 148 (else history)
//   6. JPEG quality        CheckJpegQuality   40012 with 0 and 100, control 152
//   7. thread count        CheckThreadCount   58589 with the count, control 149
// The window's own text errors (40009, 40011, 40013) come in between, where
// their controls are read. ValidateSettings runs the whole sequence over a
// record whose fields are already set (the window-less batch, and tests).
//
// A failed check leaves the record as far as it was filled: the histories
// may already hold the new entries. The batch then discards the copy.
#pragma once

#include <string_view>

#include "msg/SimpleErr.h"
#include "trim/AppSettings.h"

namespace qv {

// Ids of the main dialog's controls that validation points at.
inline constexpr int kCtlEmptyPathCombo = 144;
inline constexpr int kCtlRotateCombo = 143;
inline constexpr int kCtlTrimEdgesCombo = 147;
inline constexpr int kCtlOutputCxEdit = 153;
inline constexpr int kCtlOutputCyEdit = 154;
inline constexpr int kCtlSubFolderCombo = 148;
inline constexpr int kCtlJpegQualityEdit = 152;
inline constexpr int kCtlThreadCombo = 149;

// The outcome of a check: no error (error.id 0), or the finished error
// record and the control that gets the focus after it was shown.
struct SettingsCheck {
    CSimpleErr error;
    int control = 0;

    bool Failed() const { return error.Failed(); }
};

// Adds `path` (possibly empty: no empty image) to the EmptyPath history.
SettingsCheck ApplyEmptyPath(AppSettings& settings, std::string_view path);
// EdgeType above 9: 40006.
SettingsCheck CheckEdgeType(const AppSettings& settings);
// SpaceType above 15: 40034; SpaceType 0 (auto) while EmptyImagePath() is
// empty: 40035.
SettingsCheck CheckSpaceType(const AppSettings& settings);
// With FlagOutputSize set: Output.cx below 1 fails on 153, else Output.cy
// below 1 on 154 (40040). Without the flag any value passes.
SettingsCheck CheckOutputSize(const AppSettings& settings);
// Empty `name`: 40018; a name that is no plain subfolder name (an absolute
// path, a "." or ".." part; AppSettings::IsPlainSubFolderName): 40019
// naming it. Otherwise adds it to the SubFolder history.
SettingsCheck ApplySubFolder(AppSettings& settings, std::string_view name);
// JpegQuality outside 0..100 (whatever SaveType is): 40012.
SettingsCheck CheckJpegQuality(const AppSettings& settings);
// ThreadCount below 1: 58589 with the count in decimal. No upper bound.
SettingsCheck CheckThreadCount(const AppSettings& settings);

// Every check above in order, stopping at the first failure, with the given
// combo-box texts for the two histories.
SettingsCheck ValidateSettings(AppSettings& settings, std::string_view emptyPath,
                               std::string_view subFolder);
// The same with the record's own current entries (EmptyImagePath(),
// SubFolderName()), as a hidden dialog filled from the record would read.
SettingsCheck ValidateSettings(AppSettings& settings);

}  // namespace qv
