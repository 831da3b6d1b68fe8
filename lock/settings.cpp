#include "lock/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lock {

namespace {
const QString key = QStringLiteral("lezione/schermoIntero");
}

QString settingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/numeri/numeri.ini";
}

bool alwaysFullScreen()
{
    const QString file = settingsFile();
    if (!QFileInfo::exists(file))
        return false;
    QSettings settings(file, QSettings::IniFormat);
    const QVariant on = settings.value(key, false);
    if (settings.status() != QSettings::NoError || !on.canConvert<bool>()) {
        std::fprintf(stderr, "numeri: impostazioni non lette, %s: il gioco parte come sempre\n",
            qUtf8Printable(file));
        return false;
    }
    return on.toBool();
}

QString setAlwaysFullScreen(bool on)
{
    const QString file = settingsFile();
    const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
    // Made before Qt writes them, so that the settings are the user's alone from the start: Qt
    // keeps a file's permissions when it writes it again.
    if (!QDir().mkpath(QString::fromLocal8Bit(folder)))
        return QStringLiteral("la cartella %1 non si può creare").arg(QFileInfo(file).path());
    ::chmod(folder.constData(), 0700);
    const QByteArray path = QFile::encodeName(file);
    const auto create = [&path] {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        return fd >= 0 && ::close(fd) == 0;
    };
    if (!create())
        return QStringLiteral("il file %1 non si può scrivere").arg(file);
    {
        // A file Qt cannot read holds nothing but this choice: it is made again, not kept.
        const QSettings broken(file, QSettings::IniFormat);
        if (broken.status() == QSettings::FormatError
            && (::unlink(path.constData()) != 0 || !create()))
            return QStringLiteral("il file %1 è rovinato e non si può rifare").arg(file);
    }
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(key, on);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("il file %1 non si può scrivere").arg(file);
    return {};
}

} // namespace lock
