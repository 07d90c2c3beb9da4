// Dialog templates: a dialog's controls laid out in dialog units, turned
// into Qt widgets of the dialog's font.
//
// Dialog units follow the dialog font: one horizontal unit is a quarter of
// the font's average character width (the mean advance of "A"-"Z" and
// "a"-"z", rounded), one vertical unit an eighth of the font's height. So
// the layout grows with the font and keeps its proportions.
//
// Every control keeps its numeric id (the ids named in messages, e.g. 143)
// as the widget property "controlId" and in the map CreateControls returns.
// Controls are created in template order, which is the tab order; a label
// whose caption has a mnemonic ('&') moves the focus to the next control
// that takes focus, and a group box's mnemonic to the first control inside
// it, as they do in a dialog template.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <map>
#include <span>
#include <string>

class QWidget;

namespace qv {

// Pixels per dialog unit of a font.
class CDialogUnits {
  public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int cx, int cy) const;
    QSize Size(int cx, int cy) const;

  private:
    int m_baseX;  // average character width, pixels
    int m_baseY;  // font height, pixels
};

enum class CtlKind {
    GroupBox,
    Label,
    Icon,   // the program icon
    Frame,  // invisible; only its rectangle counts
    Edit,
    ComboEdit,  // editable drop-down combo box
    ComboList,  // drop-down list
    PushButton,
    CheckBox,
    RadioButton,
    ProgressBar,
};

// Style bits of a control.
enum CtlStyle : std::uint32_t {
    CtlRight = 1,      // text aligned right
    CtlReadOnly = 2,   // edit: read-only
    CtlDigits = 4,     // edit: digits only
    CtlDefault = 8,    // push button: the default button
    CtlDisabled = 16,  // created disabled
    CtlLink = 32,      // label: a link (hand cursor, pure blue, underlined)
};

inline constexpr int kNoId = -1;

struct CtlTemplate {
    int id;  // kNoId for labels and frames nobody addresses
    CtlKind kind;
    int x, y, cx, cy;  // dialog units
    std::uint32_t style;
    // Captions of controls without a string of their own; null: the string
    // table's text of the id (or no caption).
    const char* english;
    const char* japanese;
};

struct DialogTemplate {
    int cx, cy;               // client size, dialog units
    std::uint32_t captionId;  // string id of the window title
    std::span<const CtlTemplate> controls;
};

// The caption of a control in the interface language ("" when it has none).
std::string ControlCaption(const CtlTemplate& control);

// Creates the controls of `tmpl` as widgets of `dialog` (a control inside a
// group box's rectangle becomes that box's child), sets the dialog's title
// and fixed size, and returns the widgets by id (controls with kNoId are not
// listed).
std::map<int, QWidget*> CreateControls(QWidget& dialog, const DialogTemplate& tmpl);

}  // namespace qv
