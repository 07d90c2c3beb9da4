#include "ui/MessageBoxMsg.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

namespace {

// True when a connection to the X server named by DISPLAY ("[host]:N[.S]")
// can be opened: a local display through its socket, a remote one over TCP
// with a short time-out. Qt aborts the process when it cannot reach its
// display, so this is asked before any window object is made.
bool XDisplayReachable(const std::string& display) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    if (host.empty() || host == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(6000 + number).c_str(), &hints, &found) != 0) {
        return false;
    }
    bool ok = false;
    for (addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            ok = poll(&p, 1, 2000) == 1 &&
                 getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

}  // namespace

namespace {

// QT_QPA_PLATFORM names a platform that draws into memory only.
bool DrawsNowhere() {
    if (!Set("QT_QPA_PLATFORM")) {
        return false;
    }
    const std::string platform = std::getenv("QT_QPA_PLATFORM");
    return platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0;
}

// The windowing plugin this build installs talks to X servers (an X server
// of a Wayland session included, which sets DISPLAY too).
bool XDisplayAvailable() {
    return Set("DISPLAY") && XDisplayReachable(std::getenv("DISPLAY"));
}

}  // namespace

bool DisplayAvailable() {
    return DrawsNowhere() || XDisplayAvailable();
}

bool MessageBoxesVisible() {
    return !DrawsNowhere() && XDisplayAvailable();
}
