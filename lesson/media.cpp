#include "lesson/media.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QStandardPaths>
#include <sys/stat.h>

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

// What one picture may hold decoded, as Qt's own default allows: 128 MB. A 12-megapixel photo
// that Qt cannot decode scaled (PNG, WebP) takes 48 MB.
constexpr qint64 mostPixels = 32'000'000;
// A JPEG is decoded scaled, at as little as an eighth of its width and height.
constexpr qint64 jpegScaledBy = 8;

// The two formats a card or a family photo comes in, told by the file's first bytes. Read as that
// format, Qt loads its one decoder; left to decide, it loads every image plugin it has in turn,
// TIFF, WebP and MNG with their libraries, until one of them says yes.
QByteArray formatOf(QFile &file)
{
    const QByteArray start = file.peek(8);
    if (start.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (start.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    return {};
}

QImage readJpeg(const QByteArray &bytes)
{
    QBuffer device;
    device.setData(bytes);
    QImageReader reader(&device, "jpeg");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

bool turned(const QImageReader &reader)
{
    return reader.transformation() & QImageIOHandler::TransformationRotate90;
}
} // namespace

bool affordable(const QImageReader &reader, QString *reason)
{
    const QSize size = reader.size();
    // A size the reader cannot tell is left to its decoding, which then fails with its reason.
    if (!size.isValid())
        return true;
    const qint64 scaledBy = reader.format() == "jpeg" ? jpegScaledBy * jpegScaledBy : 1;
    if (qint64(size.width()) * size.height() / scaledBy <= mostPixels)
        return true;
    *reason = QStringLiteral("la figura è troppo grande (%1 × %2 pixel)")
                  .arg(size.width())
                  .arg(size.height());
    return false;
}

QImage onCard(const QImage &picture)
{
    if (!picture.hasAlphaChannel())
        return picture;
    QImage card(picture.size(), QImage::Format_RGB32);
    card.fill(cardGround);
    card.setDevicePixelRatio(picture.devicePixelRatio());
    QPainter(&card).drawImage(0, 0, picture);
    return card;
}

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
    QFile device(file);
    const QByteArray format = device.open(QIODevice::ReadOnly) ? formatOf(device) : QByteArray();
    QImageReader reader;
    if (format.isEmpty()) {
        reader.setFileName(file);
        // A picture in another format under the .jpg name still shows: the content decides.
        reader.setDecideFormatFromContent(true);
    } else {
        reader.setDevice(&device);
        reader.setFormat(format);
        reader.setAutoDetectImageFormat(false);
    }
    reader.setAutoTransform(true);
    if (reader.format() == "jpeg" && !endsLikeJpeg(file)) {
        *reason = QStringLiteral("il file JPEG è troncato");
        return {};
    }
    if (!affordable(reader, reason))
        return {};
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
    return onCard(picture);
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

FileIdentity fileIdentity(const QString &file)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    return { qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size),
        qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
        qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec };
}

QImage PictureStore::read(const QString &file, int fileRatio, int screenRatio, QString *reason)
{
    const int ratios = fileRatio * 10 + screenRatio;
    const FileIdentity identity = fileIdentity(file);
    {
        const std::lock_guard lock(m_mutex);
        const auto kept = m_kept.constFind(file);
        if (kept != m_kept.cend() && kept->identity == identity && kept->ratios == ratios) {
            QImage picture = readJpeg(kept->jpeg);
            picture.setDevicePixelRatio(kept->devicePixelRatio);
            return picture;
        }
    }
    QImage picture = readPicture(file, fileRatio, screenRatio, reason);
    // Read before the picture was: a file replaced meanwhile is read again at the next key.
    if (!picture.isNull() && identity.size > largePicture) {
        QBuffer jpeg;
        jpeg.open(QIODevice::WriteOnly);
        QImageWriter writer(&jpeg, "jpeg");
        writer.setQuality(90);
        if (writer.write(picture)) {
            const std::lock_guard lock(m_mutex);
            m_kept.insert(file, { identity, ratios, jpeg.data(), picture.devicePixelRatio() });
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
