#include "lesson/media.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>

namespace lesson {

namespace {
// Qt decodes a JPEG cut short as far as it goes and greys out the rest; a child would see half a
// picture. A whole JPEG closes with its end-of-image marker, allowing for a little padding.
bool endsLikeJpeg(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() < 4)
        return false;
    f.seek(std::max<qint64>(0, f.size() - 64));
    return f.readAll().contains("\xff\xd9");
}

// A JPEG this large takes longer to read than a frame lasts, even decoded scaled: its every byte
// must still be unpacked. The cards and the photos the parent's window saves are far smaller.
constexpr qint64 largePicture = 256 * 1024;

bool turned(const QImageReader &reader)
{
    return reader.transformation() & QImageIOHandler::TransformationRotate90;
}
} // namespace

QSize uprightSize(const QImageReader &reader)
{
    return turned(reader) ? reader.size().transposed() : reader.size();
}

void decodeUprightAt(QImageReader &reader, const QSize &size)
{
    // The reader scales what it decodes before it turns it.
    reader.setScaledSize(turned(reader) ? size.transposed() : size);
}

QImage readPicture(const QString &file, int fileRatio, int screenRatio, QString *reason)
{
    // Checked first: reading a FIFO or a device would block the window.
    const QFileInfo info(file);
    if (!info.exists()) {
        *reason = QStringLiteral("il file non esiste");
        return {};
    }
    if (!info.isFile()) {
        *reason = QStringLiteral("non è un file regolare");
        return {};
    }
    QImageReader reader(file);
    // A picture in another format under the .jpg name still shows: the content decides.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (reader.format() == "jpeg" && !endsLikeJpeg(file)) {
        *reason = QStringLiteral("il file JPEG è troncato");
        return {};
    }
    const QSize upright = uprightSize(reader);
    // A picture larger than the box is decoded straight to the size it is shown at, in the
    // screen's pixels; one that fits keeps its own pixels.
    int ratio = fileRatio;
    if (upright.width() > pictureBox.width() * fileRatio
        || upright.height() > pictureBox.height() * fileRatio) {
        ratio = screenRatio;
        decodeUprightAt(reader, upright.scaled(pictureBox * ratio, Qt::KeepAspectRatio));
    }
    QImage picture = reader.read();
    if (picture.isNull())
        *reason = reader.errorString();
    picture.setDevicePixelRatio(ratio);
    return picture;
}

QString familyFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/numeri/IMG";
}

PictureStore::~PictureStore()
{
    m_quit = true;
    if (m_ahead.joinable())
        m_ahead.join();
}

QImage PictureStore::read(const QString &file, int fileRatio, int screenRatio, QString *reason)
{
    const QFileInfo info(file);
    const int ratios = fileRatio * 10 + screenRatio;
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    {
        const std::lock_guard lock(m_mutex);
        const auto kept = m_kept.constFind(file);
        if (kept != m_kept.cend() && kept->size == info.size() && kept->modified == modified
            && kept->ratios == ratios) {
            QImage picture = QImage::fromData(kept->jpeg, "JPEG");
            picture.setDevicePixelRatio(kept->devicePixelRatio);
            return picture;
        }
    }
    QImage picture = readPicture(file, fileRatio, screenRatio, reason);
    if (!picture.isNull() && info.size() > largePicture) {
        QBuffer jpeg;
        jpeg.open(QIODevice::WriteOnly);
        QImageWriter writer(&jpeg, "jpeg");
        writer.setQuality(90);
        if (writer.write(picture)) {
            const std::lock_guard lock(m_mutex);
            m_kept.insert(
                file, { info.size(), modified, ratios, jpeg.data(), picture.devicePixelRatio() });
        }
    }
    return picture;
}

void PictureStore::readAhead(const QStringList &files, int screenRatio)
{
    if (m_ahead.joinable())
        return;
    m_ahead = std::thread([this, files, screenRatio] {
        for (const QString &file : files) {
            if (m_quit)
                return;
            QString ignored;
            if (QFileInfo(file).size() > largePicture)
                read(file, file.endsWith(u"@2x.jpg") ? 2 : 1, screenRatio, &ignored);
        }
    });
}

} // namespace lesson
