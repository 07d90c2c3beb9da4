// The program's two dialog templates: the main dialog (138) and the about
// box (137), and the ids of their controls.
#pragma once

#include "batch/SettingsValidation.h"
#include "ui/DialogTemplate.h"

namespace qv {

// Main dialog controls beside those that validation names
// (kCtlEmptyPathCombo 144, kCtlRotateCombo 143, kCtlTrimEdgesCombo 147,
// kCtlOutputCxEdit 153, kCtlOutputCyEdit 154, kCtlSubFolderCombo 148,
// kCtlJpegQualityEdit 152, kCtlThreadCombo 149).
inline constexpr int kCtlDeepCutCheck = 140;
inline constexpr int kCtlOutputSizeCheck = 141;
inline constexpr int kCtlAdditionalTrimCheck = 142;
inline constexpr int kCtlSizeToOutputAddCombo = 145;
inline constexpr int kCtlJpegPresetCombo = 146;
inline constexpr int kCtlResultWidthEdit = 150;
inline constexpr int kCtlResultHeightEdit = 151;
inline constexpr int kCtlTrimCxEdit = 155;
inline constexpr int kCtlTrimCyEdit = 156;
inline constexpr int kCtlProgress = 158;
inline constexpr int kCtlBmpRadio = 159;
inline constexpr int kCtlJpegRadio = 160;
inline constexpr int kCtlPngRadio = 161;
inline constexpr int kCtlTiffRadio = 162;
inline constexpr int kCtlPreviewFrame = 163;
inline constexpr int kCtlStatusText = 164;
inline constexpr int kCtlSelectByDialogButton = 165;
inline constexpr int kCtlUseAsOutputSizeButton = 166;
inline constexpr int kCtlOpenImageButton = 167;
inline constexpr int kCtlOpenFolderButton = 168;
inline constexpr int kCtlStopButton = 169;
inline constexpr int kCtlAboutButton = 57664;

// About box controls.
inline constexpr int kCtlOk = 1;
inline constexpr int kCtlProductLine = 58370;
inline constexpr int kCtlLegalNotice = 58371;
inline constexpr int kCtlHomePageLink = 58374;

// Template 138: 423 × 301 units, title "Quorvel".
const DialogTemplate& MainDlgTemplate();
// Template 137: 332 × 113 units, title "About".
const DialogTemplate& AboutDlgTemplate();

}  // namespace qv
