#include "ui/Controls.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QVariant>

#include "msg/StringTable.h"

namespace qv {

namespace {

constexpr char kControlIdProperty[] = "controlId";

// Rounds a × b / c to the nearest integer, as dialog-unit conversions do.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product >= 0 ? product + c / 2 : product - c / 2) / c);
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

QSize CDialogUnits::Size(int cx, int cy) const {
    return QSize(MulDiv(cx, m_baseX, 4), MulDiv(cy, m_baseY, 8));
}

QString Caption(std::uint32_t id) {
    const char* text = FindString(id, UiLanguage());
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

QString Caption(const char* english, const char* japanese) {
    return QString::fromUtf8(UiLanguage() == Language::Japanese ? japanese : english);
}

std::string PlainCaption(const QString& caption) {
    QString text = caption;
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    text.remove(QRegularExpression(QStringLiteral("&(?=[^&])")));
    text.remove(QRegularExpression(QStringLiteral("[\\s:：.…]+$")));
    return text.trimmed().toStdString();
}

void SetControlId(QWidget* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
}

QWidget* FindControl(const QWidget& root, int id) {
    for (QWidget* child : root.findChildren<QWidget*>()) {
        if (child->property(kControlIdProperty).toInt() == id &&
            child->property(kControlIdProperty).isValid()) {
            return child;
        }
    }
    return nullptr;
}

QLabel* MakeLabel(const QString& caption, QWidget* buddy) {
    auto* label = new QLabel(caption);
    if (buddy != nullptr) {
        label->setBuddy(buddy);
    }
    return label;
}

QComboBox* MakeComboBox(int id, bool editable) {
    auto* combo = WithId(new QComboBox, id);
    combo->setEditable(editable);
    if (editable) {
        combo->setCompleter(nullptr);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    return combo;
}

void SetComboText(QComboBox& combo, const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    if (combo.currentText() == wanted) {
        return;
    }
    const int index = combo.findText(wanted, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        combo.setCurrentIndex(index);
        return;
    }
    combo.setCurrentIndex(-1);
    if (combo.isEditable()) {
        combo.setEditText(wanted);
    }
}

void FillHistory(QComboBox& combo, const std::vector<std::string>& history) {
    combo.clear();
    for (const std::string& entry : history) {
        combo.addItem(QString::fromStdString(entry));
    }
    combo.setCurrentIndex(history.empty() ? -1 : 0);
}

}  // namespace qv
