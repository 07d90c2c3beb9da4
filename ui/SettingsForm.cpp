#include "ui/SettingsForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "image_io/OutputFormats.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "ui/Controls.h"
#include "ui/EmptyImageGroup.h"

namespace qv {

namespace {

using F = SettingsField;

// The window template's button of each format it was drawn with (0: a
// format without one, whose button no id addresses).
int FormatButtonId(const OutputFormat& format) {
    switch (format.saveType) {
        case SaveTypeBmp:
            return kCtlBmpRadio;
        case SaveTypePng:
            return kCtlPngRadio;
        case SaveTypeTiff:
            return kCtlTiffRadio;
        case SaveTypeJpeg:
            return kCtlJpegRadio;
        default:
            return 0;
    }
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QLineEdit* MakeEdit(int id, int widthUnits, bool right = true) {
    auto* edit = WithId(new QLineEdit, id);
    if (right) {
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    const CDialogUnits units(edit->font());
    edit->setFixedWidth(
        std::max(units.Size(widthUnits, 0).width(),
                 edit->fontMetrics().horizontalAdvance(QStringLiteral("-00000")) + 12));
    return edit;
}

QGroupBox* Group(const QString& title, QLayout* layout) {
    auto* group = new QGroupBox(title);
    group->setLayout(layout);
    return group;
}

std::string ComboText(const QComboBox& combo) {
    return TrimControlText(combo.currentText().toStdString());
}

}  // namespace

CSettingsForm::CSettingsForm(QWidget& preview, CMsg& msg, UrlOpener open)
    : m_msg(msg), m_open(std::move(open)) {
    m_emptyImage = new CEmptyImageGroup(msg, m_open);
    auto* left = new QVBoxLayout;
    left->addWidget(MakeOptionsGroup());
    left->addWidget(MakeSaveLocationGroup());
    auto* bottom = new QHBoxLayout;
    QGroupBox* saveTypes = MakeSaveTypeGroup();
    bottom->addWidget(saveTypes, 1);
    bottom->addWidget(MakeAdvancedGroup());
    left->addLayout(bottom);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    SetControlId(&preview, kCtlPreviewFrame);
    right->addWidget(&preview, 1);
    right->addLayout(MakeResultRows());

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(m_emptyImage, 0, 0, 1, 2);
    grid->addLayout(left, 1, 0);
    grid->addLayout(right, 1, 1);
    grid->setColumnStretch(1, 1);

    std::vector<QWidget*> order{&m_emptyImage->PathBox(),
                                &m_emptyImage->OpenImageButton(),
                                &m_emptyImage->SelectButton(),
                                m_trimEdges,
                                m_rotateEdge,
                                m_deepCut,
                                m_outputSize,
                                m_outputWidth,
                                m_outputHeight,
                                m_additionalTrim,
                                m_trimWidth,
                                m_trimHeight,
                                m_subFolder};
    for (const auto& entry : m_saveTypes) {
        order.push_back(entry.second);
    }
    order.insert(order.end(), {m_jpegQuality, m_jpegPresets, m_compression, m_threads, m_sizeAddend,
                               m_useAsOutputSize});
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }

    NameFields(*saveTypes);
    connect(m_jpegQuality, &QLineEdit::textChanged, this, [this] { OnQualityEdited(); });
    connect(m_jpegPresets, &QComboBox::currentIndexChanged, this,
            [this](int index) { OnPresetChosen(index); });
    connect(m_useAsOutputSize, &QPushButton::clicked, this, [this] { OnUseAsOutputSize(); });
}

QWidget* CSettingsForm::MakeOptionsGroup() {
    m_trimEdges = MakeComboBox(kCtlTrimEdgesCombo, false);
    for (const TrimEdgesEntry& e : kTrimEdgesTable) {
        m_trimEdges->addItem(Caption(e.stringId), static_cast<uint>(e.value));
    }
    m_rotateEdge = MakeComboBox(kCtlRotateCombo, false);
    for (const RotateEdgeEntry& e : kRotateEdgeTable) {
        m_rotateEdge->addItem(Caption(e.stringId), static_cast<uint>(e.value));
    }
    m_deepCut = WithId(new QCheckBox(Caption(kStrDeepCutCheck)), kCtlDeepCutCheck);
    m_outputSize = WithId(new QCheckBox(Caption(kStrOutputSizeCheck)), kCtlOutputSizeCheck);
    m_outputWidth = MakeEdit(kCtlOutputCxEdit, 40);
    m_outputHeight = MakeEdit(kCtlOutputCyEdit, 40);
    m_additionalTrim =
        WithId(new QCheckBox(Caption(kStrAdditionalTrimCheck)), kCtlAdditionalTrimCheck);
    m_trimWidth = MakeEdit(kCtlTrimCxEdit, 40);
    m_trimHeight = MakeEdit(kCtlTrimCyEdit, 40);

    auto* grid = new QGridLayout;
    grid->addWidget(MakeLabel(Caption("&Edges for trim:", "切り取る端(&E):"), m_trimEdges), 0, 0);
    grid->addWidget(m_trimEdges, 0, 1, 1, 4);
    grid->addWidget(
        MakeLabel(Caption("Edge for automatic &Rotation:", "自動回転に使用する原稿の端(&R):"),
                  m_rotateEdge),
        1, 0);
    grid->addWidget(m_rotateEdge, 1, 1, 1, 4);
    grid->addWidget(m_deepCut, 2, 0, 1, 5);
    grid->addWidget(m_outputSize, 3, 0);
    grid->addWidget(m_outputWidth, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("×")), 3, 2);
    grid->addWidget(m_outputHeight, 3, 3);
    grid->addWidget(new QLabel(Caption("* Only for trimming", "※トリミング用、拡縮されません")), 4,
                    1, 1, 4);
    grid->addWidget(m_additionalTrim, 5, 0, 1, 5);
    auto* trim = new QHBoxLayout;
    trim->addSpacing(CDialogUnits(font()).Size(12, 0).width());
    trim->addWidget(MakeLabel(Caption("&Vertical:", "左右(&V):"), m_trimWidth));
    trim->addWidget(m_trimWidth);
    trim->addSpacing(CDialogUnits(font()).Size(8, 0).width());
    trim->addWidget(MakeLabel(Caption("&Horizontal:", "上下(&H):"), m_trimHeight));
    trim->addWidget(m_trimHeight);
    trim->addStretch(1);
    grid->addLayout(trim, 6, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    return Group(Caption("Options", "原稿オプション"), grid);
}

QWidget* CSettingsForm::MakeSaveLocationGroup() {
    m_subFolder = MakeComboBox(kCtlSubFolderCombo, true);
    m_subFolder->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_subFolder->setMinimumContentsLength(12);
    auto* grid = new QGridLayout;
    grid->addWidget(
        MakeLabel(Caption("&Create subfolder: ", "ファイルのあるフォルダの下に子フォルダ(&C):"),
                  m_subFolder),
        0, 0, 1, 2);
    grid->addWidget(m_subFolder, 1, 0);
    grid->addWidget(new QLabel(Caption("in a folder with dropped-files", "を作成して保存")), 1, 1);
    grid->setColumnStretch(1, 1);
    return Group(Caption("Save location", "保存場所"), grid);
}

QGroupBox* CSettingsForm::MakeSaveTypeGroup() {
    auto* radios = new QHBoxLayout;
    auto* group = new QButtonGroup(this);
    m_compression = MakeComboBox(kCtlCompressionCombo, false);
    for (const OutputFormat& format : OutputFormats()) {
        auto* radio =
            WithId(new QRadioButton(Text(std::string(format.name))), FormatButtonId(format));
        group->addButton(radio);
        radios->addWidget(radio);
        m_saveTypes.emplace_back(&format, radio);
        for (const FormatChoice& choice : format.choices) {
            m_compression->addItem(Text(std::string(choice.caption)), choice.value);
        }
        connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) {
                KeepTabOnChosenFormat();
                EnableQuality();
            }
        });
    }
    radios->addStretch(1);
    m_jpegQuality = MakeEdit(kCtlJpegQualityEdit, 26, false);
    m_jpegQuality->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_jpegPresets = MakeComboBox(kCtlJpegPresetCombo, false);
    for (const JpegQualityPreset& preset : kJpegQualityPresets) {
        m_jpegPresets->addItem(Caption(preset.stringId), static_cast<int>(preset.quality));
    }
    auto* quality = new QHBoxLayout;
    quality->addWidget(MakeLabel(Caption("&Quality:", "画質(&Q):"), m_jpegQuality));
    quality->addWidget(m_jpegQuality);
    quality->addWidget(m_jpegPresets, 1);
    quality->addWidget(MakeLabel(Caption("Compressio&n:", "圧縮(&N):"), m_compression));
    quality->addWidget(m_compression);
    auto* layout = new QVBoxLayout;
    layout->addLayout(radios);
    layout->addLayout(quality);
    return Group(Caption("Save image type", "保存形式"), layout);
}

QWidget* CSettingsForm::MakeAdvancedGroup() {
    m_threads = MakeComboBox(kCtlThreadCombo, true);
    // As wide as a few digits, whatever they show.
    m_threads->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_threads->setMinimumContentsLength(4);
    for (const LONG count : kThreadCountChoices) {
        m_threads->addItem(Text(std::to_string(count)));
    }
    auto* layout = new QVBoxLayout;
    layout->addWidget(MakeLabel(Caption("Threads:", "スレッド数:"), m_threads));
    layout->addWidget(m_threads);
    return Group(Caption("Advanced option", "高度なオプション"), layout);
}

QLayout* CSettingsForm::MakeResultRows() {
    m_resultWidth = MakeEdit(kCtlResultWidthEdit, 42);
    m_resultHeight = MakeEdit(kCtlResultHeightEdit, 42);
    m_resultWidth->setReadOnly(true);
    m_resultHeight->setReadOnly(true);
    m_sizeAddend = MakeComboBox(kCtlSizeToOutputAddCombo, true);
    // As wide as a few digits, whatever they show.
    m_sizeAddend->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_sizeAddend->setMinimumContentsLength(4);
    for (const LONG addend : kSizeToOutputAddChoices) {
        m_sizeAddend->addItem(Text(std::to_string(addend)));
    }
    m_useAsOutputSize =
        WithId(new QPushButton(Caption(kStrUseAsOutputSizeButton)), kCtlUseAsOutputSizeButton);
    auto* size = new QHBoxLayout;
    size->addWidget(new QLabel(Caption("Size:", "サイズ:")));
    size->addWidget(m_resultWidth);
    size->addWidget(new QLabel(QStringLiteral("×")));
    size->addWidget(m_resultHeight);
    size->addStretch(1);
    auto* use = new QHBoxLayout;
    use->addWidget(m_sizeAddend);
    use->addWidget(m_useAsOutputSize, 1);
    auto* rows = new QVBoxLayout;
    rows->addLayout(size);
    rows->addLayout(use);
    return rows;
}

void CSettingsForm::Load(const AppSettings& s) {
    const AutoTrimParams& p = s.AutoTrim;
    m_emptyImage->ShowHistory(s.EmptyPath);
    m_rotateEdge->setCurrentIndex(m_rotateEdge->findData(static_cast<uint>(p.EdgeType)));
    m_trimEdges->setCurrentIndex(m_trimEdges->findData(static_cast<uint>(p.SpaceType)));
    m_deepCut->setChecked(p.HasFlag(AutoTrimParams::FlagDeepCut));
    m_outputSize->setChecked(p.HasFlag(AutoTrimParams::FlagOutputSize));
    m_outputWidth->setText(Text(std::to_string(p.Output.cx)));
    m_outputHeight->setText(Text(std::to_string(p.Output.cy)));
    m_additionalTrim->setChecked(p.HasFlag(AutoTrimParams::FlagAdditionalTrim));
    m_trimWidth->setText(Text(std::to_string(p.Trim.cx)));
    m_trimHeight->setText(Text(std::to_string(p.Trim.cy)));
    FillHistory(*m_subFolder, s.SubFolder);
    m_jpegQuality->setText(Text(std::to_string(s.JpegQuality)));
    // Any other value shows PNG.
    for (const auto& [format, radio] : m_saveTypes) {
        if (format == &OutputFormatOf(s.SaveType)) {
            radio->setChecked(true);
        }
    }
    // Any other value shows the first choice, the default.
    const int compression = m_compression->findData(static_cast<uint>(s.TiffCompression));
    m_compression->setCurrentIndex(compression >= 0 ? compression : 0);
    m_jpegPresets->setCurrentIndex(m_jpegPresets->findData(static_cast<int>(s.JpegQuality)));
    SetComboText(*m_threads, std::to_string(s.ThreadCount));
    SetComboText(*m_sizeAddend, std::to_string(s.SizeToOutputAdd));
    KeepTabOnChosenFormat();
    EnableQuality();
}

SettingsInput CSettingsForm::Input() const {
    SettingsInput in;
    in.emptyPath = m_emptyImage->Path();
    const auto chosen = [](const QComboBox& combo) -> std::optional<std::uint32_t> {
        if (combo.currentIndex() < 0) {
            return std::nullopt;
        }
        return combo.currentData().toUInt();
    };
    in.rotateEdge = chosen(*m_rotateEdge);
    in.trimEdges = chosen(*m_trimEdges);
    in.deepCut = m_deepCut->isChecked();
    in.outputSize = m_outputSize->isChecked();
    in.outputWidth = m_outputWidth->text().toStdString();
    in.outputHeight = m_outputHeight->text().toStdString();
    in.additionalTrim = m_additionalTrim->isChecked();
    in.trimWidth = m_trimWidth->text().toStdString();
    in.trimHeight = m_trimHeight->text().toStdString();
    in.subFolder = ComboText(*m_subFolder);
    for (const auto& [format, radio] : m_saveTypes) {
        if (radio->isChecked()) {
            in.saveType = format->saveType;
        }
    }
    in.tiffCompression = chosen(*m_compression);
    in.jpegQuality = m_jpegQuality->text().toStdString();
    in.sizeToOutputAdd = m_sizeAddend->currentText().toStdString();
    in.threadCount = m_threads->currentText().toStdString();
    return in;
}

SettingsCheck CSettingsForm::Read(AppSettings& settings) {
    const SettingsCheck check = ApplySettingsInput(
        settings, Input(), [this](SettingsField field) { return CaptionOf(field); });
    m_emptyImage->ShowHistory(settings.EmptyPath);
    if (!check.Failed() || check.field > SettingsField::SubFolder) {
        FillHistory(*m_subFolder, settings.SubFolder);
    }
    return check;
}

QWidget* CSettingsForm::ControlOf(SettingsField field) const {
    return m_fields[static_cast<std::size_t>(field)].control;
}

std::string CSettingsForm::CaptionOf(SettingsField field) const {
    return m_fields[static_cast<std::size_t>(field)].caption;
}

void CSettingsForm::NameFields(const QGroupBox& saveTypes) {
    // The caption of the label whose mnemonic leads to `control`.
    const auto labelOf = [this](const QWidget* control) {
        for (const QLabel* label : findChildren<QLabel*>()) {
            if (label->buddy() == control) {
                return PlainCaption(label->text());
            }
        }
        return std::string();
    };
    const std::string size = PlainCaption(m_outputSize->text());
    const std::pair<SettingsField, FieldView> fields[] = {
        {F::EmptyPath, {&m_emptyImage->PathBox(), PlainCaption(m_emptyImage->title())}},
        {F::RotateEdge, {m_rotateEdge, labelOf(m_rotateEdge)}},
        {F::TrimEdges, {m_trimEdges, labelOf(m_trimEdges)}},
        {F::OutputWidth, {m_outputWidth, Formatted(kStrWidthOf, size)}},
        {F::OutputHeight, {m_outputHeight, Formatted(kStrHeightOf, size)}},
        {F::TrimWidth, {m_trimWidth, labelOf(m_trimWidth)}},
        {F::TrimHeight, {m_trimHeight, labelOf(m_trimHeight)}},
        {F::SubFolder, {m_subFolder, labelOf(m_subFolder)}},
        {F::SaveType, {m_saveTypes.front().second, PlainCaption(saveTypes.title())}},
        {F::JpegQuality, {m_jpegQuality, labelOf(m_jpegQuality)}},
        {F::SizeToOutputAdd, {m_sizeAddend, ResString(kStrSizeAddendCaption)}},
        {F::ThreadCount, {m_threads, labelOf(m_threads)}},
    };
    for (const auto& [field, view] : fields) {
        m_fields[static_cast<std::size_t>(field)] = view;
    }
}

QWidget& CSettingsForm::LastControl() const {
    return *m_useAsOutputSize;
}

void CSettingsForm::SetRunning(bool running) {
    m_running = running;
    m_emptyImage->SetRunning(running);
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_trimEdges, m_rotateEdge, m_deepCut, m_outputSize, m_outputWidth, m_outputHeight,
             m_additionalTrim, m_trimWidth, m_trimHeight, m_subFolder, m_threads, m_sizeAddend,
             m_useAsOutputSize}) {
        control->setEnabled(!running);
    }
    for (const auto& entry : m_saveTypes) {
        entry.second->setEnabled(!running);
    }
    EnableQuality();
}

void CSettingsForm::ShowResultSize(LONG width, LONG height) {
    m_resultWidth->setText(Text(std::to_string(width)));
    m_resultHeight->setText(Text(std::to_string(height)));
}

void CSettingsForm::KeepTabOnChosenFormat() {
    // Tab enters the group on the chosen button; the arrows move within it.
    for (const auto& [format, radio] : m_saveTypes) {
        radio->setFocusPolicy(radio->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void CSettingsForm::EnableQuality() {
    bool quality = false, compression = false;
    for (const auto& [format, radio] : m_saveTypes) {
        const bool on = radio->isChecked() && !m_running;
        quality |= on && format->option == FormatOption::Quality;
        compression |= on && format->option == FormatOption::Compression;
    }
    m_jpegQuality->setEnabled(quality);
    m_jpegPresets->setEnabled(quality);
    m_compression->setEnabled(compression);
}

void CSettingsForm::OnQualityEdited() {
    AppSettings scratch;
    SettingsCheck check = ReadFieldNumber(
        SettingsField::JpegQuality, m_jpegQuality->text().toStdString(), kMsgEditValueFailed,
        [this](SettingsField f) { return CaptionOf(f); }, scratch.JpegQuality);
    if (!check.Failed()) {
        check = CheckJpegQuality(scratch);
    }
    if (check.Failed()) {
        m_msg.ShowError(check.error);
        m_jpegQuality->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_jpegPresets->setCurrentIndex(m_jpegPresets->findData(static_cast<int>(scratch.JpegQuality)));
}

void CSettingsForm::OnPresetChosen(int index) {
    if (index >= 0) {
        m_jpegQuality->setText(Text(std::to_string(m_jpegPresets->itemData(index).toInt())));
    }
}

void CSettingsForm::OnUseAsOutputSize() {
    LONG width = 0, height = 0;
    if (!ReadDecimal(TrimControlText(m_resultWidth->text().toStdString()), width)) {
        width = 0;
    }
    if (!ReadDecimal(TrimControlText(m_resultHeight->text().toStdString()), height)) {
        height = 0;
    }
    if (width < 1 || height < 1) {
        CSimpleErr err;
        err.Set(kMsgNoImageSize);
        m_msg.ShowError(err);
        return;
    }
    LONG addend = 0;
    const SettingsCheck check = ReadFieldNumber(
        SettingsField::SizeToOutputAdd, m_sizeAddend->currentText().toStdString(),
        kMsgEditValueFailed, [this](SettingsField f) { return CaptionOf(f); }, addend);
    if (check.Failed()) {
        m_msg.ShowError(check.error);
        return;
    }
    m_outputWidth->setText(Text(std::to_string(static_cast<long long>(width) + addend)));
    m_outputHeight->setText(Text(std::to_string(static_cast<long long>(height) + addend)));
    m_outputSize->setChecked(true);
}

}  // namespace qv
