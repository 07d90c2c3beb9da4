#include "ui/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>

#include "msg/Exception.h"
#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"

namespace qv {

namespace {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorNoAssociation = 1155;

}  // namespace

UrlOpener DesktopUrlOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void ShellOpen(const UrlOpener& open, const std::string& file, const std::string& parameters) {
    const QString path = QString::fromStdString(file);
    std::uint32_t code = 0;
    if (file.empty() || !QFileInfo::exists(path)) {
        code = kErrorFileNotFound;
    } else if (!open || !open(QUrl::fromLocalFile(path))) {
        code = kErrorNoAssociation;
    }
    if (code != 0) {
        CSimpleErr err;
        err.Set(kMsgShellOpenFailed, SystemErrorText(code), file + " " + parameters);
        err.code = code;
        throw my::CException(err);
    }
}

}  // namespace qv
