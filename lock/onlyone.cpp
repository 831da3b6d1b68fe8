#include "lock/onlyone.h"

#include <QGuiApplication>
#include <QStandardPaths>

namespace lock {

std::unique_ptr<QLockFile> claimLockedScreen()
{
    // One per display: another session of the same user, on another display, is its own.
    QString display = qEnvironmentVariable(
        QGuiApplication::platformName() == u"wayland" ? "WAYLAND_DISPLAY" : "DISPLAY");
    display.replace(u'/', u'_');
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    auto claim
        = std::make_unique<QLockFile>(folder + u"/numeri-schermo-intero" + display + u".lock");
    // A lesson lasts as long as the child wants: the claim of a running one never grows stale;
    // that of one that died goes with its process.
    claim->setStaleLockTime(0);
    if (claim->tryLock(0) || claim->error() != QLockFile::LockFailedError)
        return claim;
    return nullptr;
}

} // namespace lock
