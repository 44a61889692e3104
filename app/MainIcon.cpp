#include "app/MainIcon.h"

#include <QString>

QIcon MainIcon() {
    // The icon lives in a static library, whose resource registration the
    // linker would drop unless something refers to it.
    Q_INIT_RESOURCE(mainicon);

    QIcon icon;
    for (const int size : kMainIconSizes) {
        icon.addFile(QStringLiteral(":/MAINICON/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
