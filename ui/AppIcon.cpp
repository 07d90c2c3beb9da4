#include "ui/AppIcon.h"

namespace qv {

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/qv/icons/quorvel-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace qv
