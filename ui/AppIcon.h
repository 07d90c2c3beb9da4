// The program icon (res/icons), the same picture the desktop entry shows.
#pragma once

#include <QIcon>

namespace qv {

// The icon at every size it was drawn for (16 to 256 pixels).
QIcon AppIcon();

}  // namespace qv
