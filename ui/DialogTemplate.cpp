#include "ui/DialogTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <vector>

#include "msg/StringTable.h"
#include "ui/AppIcon.h"

namespace qv {

namespace {

// Rounds a × b / c to the nearest integer, as dialog-unit conversions do.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product >= 0 ? product + c / 2 : product - c / 2) / c);
}

bool TakesFocus(CtlKind kind) {
    switch (kind) {
        case CtlKind::Edit:
        case CtlKind::ComboEdit:
        case CtlKind::ComboList:
        case CtlKind::PushButton:
        case CtlKind::CheckBox:
        case CtlKind::RadioButton:
            return true;
        default:
            return false;
    }
}

bool Contains(const CtlTemplate& outer, const CtlTemplate& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

QLineEdit* MakeEdit(QWidget* parent, std::uint32_t style) {
    auto* edit = new QLineEdit(parent);
    if (style & CtlRight) {
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    edit->setReadOnly((style & CtlReadOnly) != 0);
    if (style & CtlDigits) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    return edit;
}

QComboBox* MakeCombo(QWidget* parent, bool editable) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(editable);
    if (editable) {
        // Typed text stays as typed: no completion, nothing added to the list.
        combo->setCompleter(nullptr);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    return combo;
}

QWidget* MakeControl(const CtlTemplate& c, const QString& caption, QWidget* parent) {
    switch (c.kind) {
        case CtlKind::GroupBox:
            return new QGroupBox(caption, parent);
        case CtlKind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setAlignment(((c.style & CtlRight) ? Qt::AlignRight : Qt::AlignLeft) |
                                Qt::AlignTop);
            label->setWordWrap(true);
            if (c.style & CtlLink) {
                QFont font = label->font();
                font.setUnderline(true);
                label->setFont(font);
                QPalette palette = label->palette();
                palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
                label->setPalette(palette);
                label->setCursor(Qt::PointingHandCursor);
            }
            return label;
        }
        case CtlKind::Icon: {
            auto* label = new QLabel(parent);
            label->setPixmap(AppIcon().pixmap(32, 32));
            return label;
        }
        case CtlKind::Frame: {
            auto* frame = new QWidget(parent);
            frame->hide();
            return frame;
        }
        case CtlKind::Edit:
            return MakeEdit(parent, c.style);
        case CtlKind::ComboEdit:
            return MakeCombo(parent, true);
        case CtlKind::ComboList:
            return MakeCombo(parent, false);
        case CtlKind::PushButton: {
            auto* button = new QPushButton(caption, parent);
            button->setDefault((c.style & CtlDefault) != 0);
            return button;
        }
        case CtlKind::CheckBox:
            return new QCheckBox(caption, parent);
        case CtlKind::RadioButton:
            return new QRadioButton(caption, parent);
        case CtlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
    }
    return nullptr;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int units) const {
    return MulDiv(units, m_baseX, 4);
}

int CDialogUnits::Y(int units) const {
    return MulDiv(units, m_baseY, 8);
}

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const {
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + cx) - left, Y(y + cy) - top);
}

QSize CDialogUnits::Size(int cx, int cy) const {
    return QSize(X(cx), Y(cy));
}

std::string ControlCaption(const CtlTemplate& control) {
    if (control.english != nullptr) {
        return UiLanguage() == Language::Japanese && control.japanese != nullptr ? control.japanese
                                                                                 : control.english;
    }
    if (control.id == kNoId) {
        return {};
    }
    const char* text = FindString(static_cast<std::uint32_t>(control.id), UiLanguage());
    return text != nullptr ? text : "";
}

std::map<int, QWidget*> CreateControls(QWidget& dialog, const DialogTemplate& tmpl) {
    const CDialogUnits units(dialog.font());
    if (const char* title = FindString(tmpl.captionId, UiLanguage())) {
        dialog.setWindowTitle(QString::fromUtf8(title));
    }
    dialog.setFixedSize(units.Size(tmpl.cx, tmpl.cy));

    std::vector<QWidget*> widgets;
    std::map<int, QWidget*> byId;
    for (std::size_t i = 0; i < tmpl.controls.size(); ++i) {
        const CtlTemplate& c = tmpl.controls[i];
        // The innermost group box around the control is its parent.
        QWidget* parent = &dialog;
        QPoint origin(0, 0);
        for (std::size_t g = i; g-- > 0;) {
            const CtlTemplate& group = tmpl.controls[g];
            if (group.kind == CtlKind::GroupBox && Contains(group, c)) {
                parent = widgets[g];
                origin = units.Rect(group.x, group.y, group.cx, group.cy).topLeft();
                break;
            }
        }
        QWidget* widget = MakeControl(c, QString::fromStdString(ControlCaption(c)), parent);
        widget->setGeometry(units.Rect(c.x, c.y, c.cx, c.cy).translated(-origin));
        widget->setEnabled((c.style & CtlDisabled) == 0);
        widgets.push_back(widget);
        if (c.id != kNoId) {
            byId[c.id] = widget;
        }
    }

    // Tab order is template order; a label's mnemonic goes to the next
    // control that takes focus.
    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < tmpl.controls.size(); ++i) {
        const CtlTemplate& c = tmpl.controls[i];
        if (TakesFocus(c.kind)) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widgets[i]);
            }
            previous = widgets[i];
        } else if (c.kind == CtlKind::Label) {
            for (std::size_t next = i + 1; next < tmpl.controls.size(); ++next) {
                if (TakesFocus(tmpl.controls[next].kind)) {
                    static_cast<QLabel*>(widgets[i])->setBuddy(widgets[next]);
                    break;
                }
            }
        }
    }
    return byId;
}

}  // namespace qv
