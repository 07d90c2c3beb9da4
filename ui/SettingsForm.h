// CSettingsForm: every processing setting of the main window as a control,
// laid out from its captions, filled from an AppSettings and read back into
// one through the batch's validation (SettingsValidation.h), which names the
// failing field; the form maps it to its control.
//
// Groups and order (also the tab order): the empty-image path
// (CEmptyImageGroup); Options (trim edges 147, rotation 143,
// deep cut 140, output size 141 with 153 × 154, additional trimming 142 with
// 155 and 156); Save location (subfolder 148); Save image type (one radio
// button per output format, JPEG quality 152 and its presets 146); Advanced
// option (threads 149); beside them the preview pane with the last result's
// size (150 × 151), the size addend 145 and "And, use as Output size" (166).
//
// The form keeps itself consistent: the quality edit and the presets follow
// each other (a quality outside 0..100 is refused at once with 40012), the
// quality controls are enabled only with JPEG chosen, Tab into the format
// group lands on the chosen format (arrows move within it). 166 copies the result size plus the
// addend into the output size (40039 without a result, 40011 for an addend
// that is no number). Messages go to `msg`.
#pragma once

#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "batch/SettingsValidation.h"
#include "msg/Msg.h"
#include "ui/ShellOpen.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
struct OutputFormat;

namespace qv {

class CEmptyImageGroup;

class CSettingsForm : public QWidget {
  public:
    // `preview` is placed beside the settings (the form does not own what it
    // shows).
    CSettingsForm(QWidget& preview, CMsg& msg, UrlOpener open);

    // Fills every control from `settings`.
    void Load(const AppSettings& settings);
    // Reads the controls into `settings` (a copy of the global record) and
    // validates them; the histories' boxes show the histories read so far.
    SettingsCheck Read(AppSettings& settings);
    // What the controls hold, as the validation reads it.
    SettingsInput Input() const;

    // The control that shows `field` (null for None).
    QWidget* ControlOf(SettingsField field) const;
    // The caption of `field` as messages name it ("Threads").
    std::string CaptionOf(SettingsField field) const;

    // Running: every settings control disabled (Open image stays).
    void SetRunning(bool running);
    void ShowResultSize(LONG width, LONG height);

    CEmptyImageGroup& EmptyImage() const { return *m_emptyImage; }
    // The form's last control in the tab order.
    QWidget& LastControl() const;

  private:
    QWidget* MakeOptionsGroup();
    QWidget* MakeSaveLocationGroup();
    QGroupBox* MakeSaveTypeGroup();
    QWidget* MakeAdvancedGroup();
    QLayout* MakeResultRows();
    // Which control shows each field, and its caption in messages.
    void NameFields(const QGroupBox& saveTypes);
    void KeepTabOnChosenFormat();
    // The chosen format's option controls on, the others off.
    void EnableQuality();

    void OnQualityEdited();
    void OnPresetChosen(int index);
    void OnUseAsOutputSize();

    struct FieldView {
        QWidget* control = nullptr;
        std::string caption;
    };

    CMsg& m_msg;
    UrlOpener m_open;
    std::array<FieldView, static_cast<std::size_t>(SettingsField::ThreadCount) + 1> m_fields{};
    bool m_running = false;

    CEmptyImageGroup* m_emptyImage;
    QComboBox* m_trimEdges;
    QComboBox* m_rotateEdge;
    QCheckBox* m_deepCut;
    QCheckBox* m_outputSize;
    QLineEdit* m_outputWidth;
    QLineEdit* m_outputHeight;
    QCheckBox* m_additionalTrim;
    QLineEdit* m_trimWidth;
    QLineEdit* m_trimHeight;
    QComboBox* m_subFolder;
    // A button for each output format, in the table's order.
    std::vector<std::pair<const OutputFormat*, QRadioButton*>> m_saveTypes;
    QLineEdit* m_jpegQuality;
    QComboBox* m_jpegPresets;
    QComboBox* m_compression;  // the choices of the format with a compression
    QComboBox* m_threads;
    QLineEdit* m_resultWidth;
    QLineEdit* m_resultHeight;
    QComboBox* m_sizeAddend;
    QPushButton* m_useAsOutputSize;
};

}  // namespace qv
