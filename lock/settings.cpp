#include "lock/settings.h"

#include <QDateTime>
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
const QString lockKey = QStringLiteral("lezione/ultimoBlocco");

// Makes the settings file where it is missing, and the user's alone before Qt writes it (Qt keeps
// a file's permissions when it writes it again), and afresh where Qt cannot read it: it holds
// nothing but the program's own settings. The reason in Italian where it cannot.
QString prepare(const QString &file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
    if (!QDir().mkpath(QString::fromLocal8Bit(folder)))
        return QStringLiteral("la cartella %1 non si può creare").arg(QFileInfo(file).path());
    ::chmod(folder.constData(), 0700);
    const QByteArray path = QFile::encodeName(file);
    const auto create = [&path] {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        return fd >= 0 && ::fchmod(fd, 0600) == 0 && ::close(fd) == 0;
    };
    if (!create())
        return QStringLiteral("il file %1 non si può scrivere").arg(file);
    const QSettings broken(file, QSettings::IniFormat);
    if (broken.status() == QSettings::FormatError && (::unlink(path.constData()) != 0 || !create()))
        return QStringLiteral("il file %1 è rovinato e non si può rifare").arg(file);
    return {};
}

QString keep(const QString &name, const QVariant &value)
{
    const QString file = settingsFile();
    if (QString failure = prepare(file); !failure.isEmpty())
        return failure;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(name, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("il file %1 non si può scrivere").arg(file);
    return {};
}
// The choice as the file has it, quotes and all; empty where it is written in no [lezione] line.
QString writtenValue(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QString section;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            section = line;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (section != u"[lezione]" || equals < 0
            || line.left(equals).trimmed() != key.section(u'/', 1))
            continue;
        QString value = line.mid(equals + 1).trimmed();
        if (!value.startsWith(u'"'))
            value = value.section(u';', 0, 0).trimmed(); // a comment after it
        return value;
    }
    return {};
}
} // namespace

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
    const QSettings settings(file, QSettings::IniFormat);
    const bool present = settings.contains(key);
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "numeri: impostazioni non lette, %s: il gioco parte come sempre\n",
            qUtf8Printable(file));
        return false;
    }
    if (!present)
        return false;
    // Qt would take any word but "false" and "0" for yes, "no" and "off" among them, and takes
    // the quotes off "true": a choice is the word the program writes and nothing else.
    const QString written = writtenValue(file);
    if (written.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (written.compare(u"false", Qt::CaseInsensitive) != 0)
        std::fprintf(stderr,
            "numeri: impostazioni, %s: schermoIntero=%s non è né true né false: il gioco parte "
            "come sempre\n",
            qUtf8Printable(file), qUtf8Printable(written));
    return false;
}

QString setAlwaysFullScreen(bool on)
{
    return keep(key, on);
}

void noteLock(const QString &outcome)
{
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("d/M/yyyy HH:mm"));
    const QString failure = keep(lockKey, QString(when + u": " + outcome));
    if (!failure.isEmpty())
        std::fprintf(stderr, "numeri: %s\n", qUtf8Printable(failure));
}

QString lastLock()
{
    const QString file = settingsFile();
    if (!QFileInfo::exists(file))
        return {};
    return QSettings(file, QSettings::IniFormat).value(lockKey).toString();
}

} // namespace lock
