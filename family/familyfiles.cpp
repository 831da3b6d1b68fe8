#include "family/familyfiles.h"

#include "family/italian.h"
#include "lesson/media.h"
#include "lesson/wav.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace family {

namespace {
// The family's own files are small; anything larger was not made here and is not kept to undo.
constexpr qint64 largestKept = 64 * 1024 * 1024;

QByteArray jpeg(const QImage &picture)
{
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    picture.save(&bytes, "JPEG", 90);
    return bytes.data();
}

// FILE as it stands: its bytes, or nothing where there is no file. Null where it is something
// that cannot be put back (a folder, a FIFO, a file too large): it is left out of what is kept.
std::optional<FileChange> standing(const QString &file)
{
    QString reason;
    const std::optional<QByteArray> bytes = lesson::readRegularFile(file, largestKept, &reason);
    if (!bytes && reason != lesson::notThere)
        return std::nullopt;
    return FileChange { file, bytes };
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += std::max<ssize_t>(n, 0);
    }
    return true;
}

QString makeFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return {};
    // The program's folder and IMG in it, both for the user alone: a parent's voice is private.
    if (!QDir().mkpath(folder))
        return QStringLiteral("non riesco a creare la cartella %1").arg(folder);
    for (const QString &made : { QFileInfo(folder).path(), folder })
        QFile::setPermissions(made, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return {};
}
} // namespace

QString familyFile(int digit, const QString &suffix)
{
    return lesson::familyFolder() + u'/' + QString::number(digit) + suffix;
}

QString changeTogether(const FileChanges &changes, FileChanges *before)
{
    if (before) {
        before->clear();
        for (const FileChange &change : changes)
            if (std::optional<FileChange> kept = standing(change.file))
                before->push_back(std::move(*kept));
    }
    struct Written
    {
        QByteArray temporary;
        QByteArray target;
    };
    std::vector<Written> written;
    const auto fail = [&written](int error) {
        for (const Written &w : written)
            ::unlink(w.temporary.constData());
        return systemError(error);
    };
    // Every file of a change is in the family's folder, made before anything is written there.
    const bool writes = std::any_of(
        changes.begin(), changes.end(), [](const FileChange &change) { return change.bytes; });
    if (const QString failure
        = writes ? makeFolder(QFileInfo(changes.front().file).path()) : QString();
        !failure.isEmpty())
        return failure;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (const FileChange &change : changes) {
        if (!change.bytes)
            continue;
        const QFileInfo target(change.file);
        // Hidden, and made for the user alone (mkstemp's 0600), beside the name it will take.
        QByteArray temporary
            = QFile::encodeName(target.path() + u"/." + target.fileName()) + ".XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return fail(errno);
        written.push_back({ temporary, QFile::encodeName(change.file) });
        // One time for the files made together: the lesson prefers an @2x that is not older
        // than its plain picture, so a pair must not differ by the moment between their writes.
        const timespec times[2] = { now, now };
        const bool whole
            = writeAll(fd, *change.bytes) && ::fsync(fd) == 0 && ::futimens(fd, times) == 0;
        const int error = errno;
        if (::close(fd) != 0 || !whole)
            return fail(whole ? errno : error);
    }
    for (const Written &w : written)
        if (::rename(w.temporary.constData(), w.target.constData()) != 0)
            return fail(errno);
    for (const FileChange &change : changes)
        if (!change.bytes && ::unlink(QFile::encodeName(change.file).constData()) != 0
            && errno != ENOENT)
            return systemError(errno);
    return {};
}

namespace {
// Whole, as a photo copied by hand is shown: the child counts what it holds.
QSize fitted(const QSize &size)
{
    const QSize box = lesson::pictureBox;
    return (size.width() > box.width() || size.height() > box.height()
            ? size.scaled(box, Qt::KeepAspectRatio)
            : size)
        .expandedTo(QSize(1, 1));
}
} // namespace

bool photoFiles(const QString &source, QByteArray *plain, QByteArray *twice, QString *reason)
{
    if (!QFileInfo(source).isFile()) {
        *reason = QStringLiteral("non è un file");
        return false;
    }
    QImageReader reader(source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!lesson::affordable(reader, reason))
        return false;
    // Decoded no larger than it is kept: a phone's photo is many times the box.
    const QSize upright = lesson::uprightSize(reader);
    if (upright.isValid() && upright.width() > fitted(upright).width() * 2)
        lesson::decodeUprightAt(reader, fitted(upright) * 2);
    const QImage photo = reader.read();
    if (photo.isNull()) {
        *reason = reader.errorString();
        return false;
    }
    photoFiles(photo, upright.isValid() ? upright : photo.size(), plain, twice);
    return true;
}

void photoFiles(const QImage &upright, QSize size, QByteArray *plain, QByteArray *twice)
{
    const QImage photo = lesson::onCard(upright);
    const QSize shown = fitted(size);
    *twice = jpeg(photo.scaled(shown * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    *plain = jpeg(photo.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

QSize photoDecodeSize()
{
    return lesson::pictureBox * 2;
}

} // namespace family
