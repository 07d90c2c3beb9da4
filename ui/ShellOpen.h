// Opening files, folders and addresses with the desktop's default action.
// A failure comes back with its reason, so the message can say why.
#pragma once

#include <QUrl>
#include <functional>
#include <string>

#include "msg/SimpleErr.h"

namespace qv {

// Hands a URL to the desktop; "" when the desktop took it, else why not.
using UrlOpener = std::function<std::string(const QUrl&)>;

// QDesktopServices::openUrl. The reason of a refusal is what Qt reported
// about it ("Unable to detect a launcher for …"), or the system text of
// 1155 when it reported nothing.
UrlOpener DesktopUrlOpener();

// Opens the local file or folder `path` through `open`: "" when opened;
// else the reason: the system text of 2 for a path that does not exist (or
// is empty), otherwise the opener's.
std::string ShellOpen(const UrlOpener& open, const std::string& path);

// "failed to open path" (40014) naming `target` and `reason`.
CSimpleErr OpenFailure(const std::string& target, const std::string& reason);

}  // namespace qv
