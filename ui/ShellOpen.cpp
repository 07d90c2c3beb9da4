#include "ui/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>

#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"

namespace qv {

namespace {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorNoAssociation = 1155;

// Collects what Qt reports while a URL is handed over (user-interface
// thread only), and passes it on to the handler before.
QString* g_reported = nullptr;
QtMessageHandler g_previous = nullptr;

void Collect(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_reported != nullptr && type != QtDebugMsg) {
        *g_reported += (g_reported->isEmpty() ? QString() : QStringLiteral("\n")) + text;
    }
    if (g_previous != nullptr) {
        g_previous(type, context, text);
    }
}

}  // namespace

UrlOpener DesktopUrlOpener() {
    return [](const QUrl& url) -> std::string {
        QString reported;
        g_reported = &reported;
        g_previous = qInstallMessageHandler(Collect);
        const bool opened = QDesktopServices::openUrl(url);
        qInstallMessageHandler(g_previous);
        g_reported = nullptr;
        if (opened) {
            return {};
        }
        return reported.isEmpty() ? SystemErrorText(kErrorNoAssociation) : reported.toStdString();
    };
}

std::string ShellOpen(const UrlOpener& open, const std::string& path) {
    const QString local = QString::fromStdString(path);
    if (path.empty() || !QFileInfo::exists(local)) {
        return SystemErrorText(kErrorFileNotFound);
    }
    if (!open) {
        return SystemErrorText(kErrorNoAssociation);
    }
    return open(QUrl::fromLocalFile(local));
}

CSimpleErr OpenFailure(const std::string& target, const std::string& reason) {
    CSimpleErr err;
    err.Set(kMsgOpenPathFailed, target, reason);
    return err;
}

}  // namespace qv
