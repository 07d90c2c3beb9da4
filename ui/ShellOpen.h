// Opening files, folders and addresses with the desktop's default action.
#pragma once

#include <QUrl>
#include <functional>
#include <string>

namespace qv {

// Hands a URL to the desktop; true when the desktop took it.
using UrlOpener = std::function<bool(const QUrl&)>;

// QDesktopServices::openUrl.
UrlOpener DesktopUrlOpener();

// Opens the local file or folder `file` with its default application
// through `open`. Throws my::CException 58683 "Failed to shell execute -
// %s\n\n%s" with the system text of the cause (2: no such file or folder;
// 1155: nothing took it) and `file` and `parameters` joined by one blank.
void ShellOpen(const UrlOpener& open, const std::string& file,
               const std::string& parameters = std::string());

}  // namespace qv
