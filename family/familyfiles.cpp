#include "family/familyfiles.h"

#include "lesson/media.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace family {

namespace {
QByteArray jpeg(const QImage &picture)
{
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    picture.save(&bytes, "JPEG", 90);
    return bytes.data();
}
} // namespace

QString familyFile(int digit, const QString &suffix)
{
    return lesson::familyFolder() + u'/' + QString::number(digit) + suffix;
}

QString saveWhole(const QString &file, const QByteArray &bytes)
{
    constexpr auto userAlone = QFile::ReadOwner | QFile::WriteOwner;
    const QString folder = QFileInfo(file).path();
    if (!QFileInfo(folder).isDir()) {
        // The program's folder and IMG in it, both for the user alone: a parent's voice is private.
        if (!QDir().mkpath(folder))
            return QStringLiteral("non riesco a creare la cartella %1").arg(folder);
        for (const QString &made : { QFileInfo(folder).path(), folder })
            QFile::setPermissions(made, userAlone | QFile::ExeOwner);
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    out.setPermissions(userAlone);
    if (out.write(bytes) != bytes.size() || !out.commit())
        return out.errorString();
    return {};
}

bool photoFiles(const QString &source, QByteArray *plain, QByteArray *twice, QString *reason)
{
    if (!QFileInfo(source).isFile()) {
        *reason = QStringLiteral("non è un file");
        return false;
    }
    QImageReader reader(source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize box = lesson::pictureBox * 2;
    // Decoded no larger than it is shown: a phone's photo is many times the box.
    const QSize upright = lesson::uprightSize(reader);
    if (upright.width() > box.width() && upright.height() > box.height())
        lesson::decodeUprightAt(reader, upright.scaled(box, Qt::KeepAspectRatioByExpanding));
    QImage photo = reader.read();
    if (photo.isNull()) {
        *reason = reader.errorString();
        return false;
    }
    photo = photo.scaled(box, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    photo = photo.copy(
        QRect(QPoint((photo.width() - box.width()) / 2, (photo.height() - box.height()) / 2), box));
    *twice = jpeg(photo);
    *plain
        = jpeg(photo.scaled(lesson::pictureBox, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return true;
}

} // namespace family
