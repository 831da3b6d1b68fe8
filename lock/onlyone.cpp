#include "lock/onlyone.h"

#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lock {

ScreenClaim::ScreenClaim(int fd)
    : m_fd(fd)
{ }

ScreenClaim::~ScreenClaim()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<ScreenClaim> claimLockedScreen()
{
    // One per display: another session of the same user, on another display, is its own.
    QString display = qEnvironmentVariable(
        QGuiApplication::platformName() == u"wayland" ? "WAYLAND_DISPLAY" : "DISPLAY");
    display.replace(u'/', u'_');
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QByteArray path
        = QFile::encodeName(folder + u"/numeri-schermo-intero" + display + u".lock");
    // The system's own lock on an open file: it goes with the process however that ends, so a
    // lesson that died never keeps the next one out, and no process number is read back and
    // trusted. The file itself is left for the next start, empty.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return std::make_unique<ScreenClaim>(-1);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<ScreenClaim>(fd);
}

} // namespace lock
