#include "ui/MessageBoxMsg.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

struct Button {
    QMessageBox::StandardButton button;
    int id;
};

std::vector<Button> ButtonsOf(std::uint32_t type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        case MB_ABORTRETRYIGNORE:
            return {{QMessageBox::Abort, IDABORT},
                    {QMessageBox::Retry, IDRETRY},
                    {QMessageBox::Ignore, IDIGNORE}};
        case MB_YESNOCANCEL:
            return {{QMessageBox::Yes, IDYES},
                    {QMessageBox::No, IDNO},
                    {QMessageBox::Cancel, IDCANCEL}};
        case MB_YESNO:
            return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        case MB_RETRYCANCEL:
            return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        case MB_CANCELTRYCONTINUE:
            return {{QMessageBox::Cancel, IDCANCEL},
                    {QMessageBox::Retry, IDTRYAGAIN},
                    {QMessageBox::Ignore, IDCONTINUE}};
        default:
            return {{QMessageBox::Ok, IDOK}};
    }
}

QMessageBox::Icon IconOf(std::uint32_t type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

int CMessageBoxMsg::ShowError(const CSimpleErr& err) {
    return Show(err.message, MB_ICONERROR);
}

int CMessageBoxMsg::Show(const std::string& text, std::uint32_t type) {
    QWidget* owner = QApplication::activeWindow();
    if (owner == nullptr) {
        owner = m_owner;
    }
    QMessageBox box(IconOf(type), QString::fromStdString(MessageBoxCaption(type)),
                    QString::fromStdString(text), QMessageBox::NoButton, owner);
    const std::vector<Button> buttons = ButtonsOf(type);
    QMessageBox::StandardButtons all;
    for (const Button& b : buttons) {
        all |= b.button;
    }
    box.setStandardButtons(all);
    box.setDefaultButton(buttons.front().button);
    const int negative = (type & MB_TYPEMASK) <= MB_CANCELTRYCONTINUE ? NegativeAnswer(type) : IDOK;
    for (const Button& b : buttons) {
        if (b.id == negative) {
            box.setEscapeButton(b.button);
        }
    }
    const int pressed = box.exec();
    for (const Button& b : buttons) {
        if (pressed == b.button) {
            return b.id;
        }
    }
    return negative;
}

bool DisplayAvailable() {
    if (Set("QT_QPA_PLATFORM")) {
        const std::string platform = std::getenv("QT_QPA_PLATFORM");
        if (platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0 ||
            platform.rfind("vnc", 0) == 0) {
            return true;
        }
    }
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}
