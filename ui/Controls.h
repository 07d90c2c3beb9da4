// Building blocks of the program's windows: control ids, captions in the
// interface language and dialog units.
//
// Every control a message, a test or the keyboard addresses carries its
// numeric id (the ids of the window's templates: 143 is the rotation box) as
// the widget property "controlId"; FindControl finds it again. Controls are
// laid out by Qt layouts from their captions; dialog units only give the
// least sizes (the templates' sizes), so a layout never ends smaller than
// the template it replaces.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace qv {

// Main window (template 138).
inline constexpr int kCtlDeepCutCheck = 140;
inline constexpr int kCtlOutputSizeCheck = 141;
inline constexpr int kCtlAdditionalTrimCheck = 142;
inline constexpr int kCtlRotateCombo = 143;
inline constexpr int kCtlEmptyPathCombo = 144;
inline constexpr int kCtlSizeToOutputAddCombo = 145;
inline constexpr int kCtlJpegPresetCombo = 146;
inline constexpr int kCtlTrimEdgesCombo = 147;
inline constexpr int kCtlSubFolderCombo = 148;
inline constexpr int kCtlThreadCombo = 149;
inline constexpr int kCtlResultWidthEdit = 150;
inline constexpr int kCtlResultHeightEdit = 151;
inline constexpr int kCtlJpegQualityEdit = 152;
inline constexpr int kCtlOutputCxEdit = 153;
inline constexpr int kCtlOutputCyEdit = 154;
inline constexpr int kCtlTrimCxEdit = 155;
inline constexpr int kCtlTrimCyEdit = 156;
inline constexpr int kCtlEmptyPathGroup = 157;
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
inline constexpr int kCtlReviewButton = 170;
inline constexpr int kCtlCompressionCombo = 171;
inline constexpr int kCtlAboutButton = 57664;

// About box (template 137).
inline constexpr int kCtlOk = 1;
inline constexpr int kCtlProductLine = 58370;
inline constexpr int kCtlLegalNotice = 58371;
inline constexpr int kCtlHomePageLink = 58374;

// Pixels per dialog unit of a font: a horizontal unit is a quarter of the
// font's average character width (the mean advance of "A"-"Z" and "a"-"z",
// rounded), a vertical unit an eighth of its height.
class CDialogUnits {
  public:
    explicit CDialogUnits(const QFont& font);
    QSize Size(int cx, int cy) const;

  private:
    int m_baseX;
    int m_baseY;
};

// The text of string `id` in the interface language.
QString Caption(std::uint32_t id);
// `english` or `japanese` by the interface language (captions without a
// string of their own).
QString Caption(const char* english, const char* japanese);
// A caption as a message names it: without its mnemonic ("&E", "(&E)") and
// without a trailing colon or blanks. "切り取る端(&E):" gives "切り取る端".
std::string PlainCaption(const QString& caption);

// Gives `widget` its control id; returns it.
template <class W>
W* WithId(W* widget, int id);
void SetControlId(QWidget* widget, int id);
// The descendant of `root` with control id `id`, or null.
QWidget* FindControl(const QWidget& root, int id);

// A label whose mnemonic moves the focus to `buddy`.
QLabel* MakeLabel(const QString& caption, QWidget* buddy = nullptr);
// A combo box with id `id`; an editable one keeps typed text as typed (no
// completion, nothing added to its list).
QComboBox* MakeComboBox(int id, bool editable);
// Sets `text` in `combo`: nothing when it shows it already; else the first
// item equal to it (case-sensitive) is selected; else the selection is
// cleared and the text put in the edit field.
void SetComboText(QComboBox& combo, const std::string& text);
// Lists `history` in `combo`, its first entry chosen.
void FillHistory(QComboBox& combo, const std::vector<std::string>& history);

template <class W>
W* WithId(W* widget, int id) {
    SetControlId(widget, id);
    return widget;
}

}  // namespace qv
