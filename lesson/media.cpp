#include "lesson/media.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

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
} // namespace

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
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize stored = reader.size();
    const QSize upright = turned ? stored.transposed() : stored;
    // A picture larger than the box is decoded straight to the size it is shown at, in the
    // screen's pixels; one that fits keeps its own pixels.
    int ratio = fileRatio;
    if (upright.width() > pictureBox.width() * fileRatio
        || upright.height() > pictureBox.height() * fileRatio) {
        ratio = screenRatio;
        const QSize fit = upright.scaled(pictureBox * ratio, Qt::KeepAspectRatio);
        reader.setScaledSize(turned ? fit.transposed() : fit);
    }
    QImage picture = reader.read();
    if (picture.isNull())
        *reason = reader.errorString();
    picture.setDevicePixelRatio(ratio);
    return picture;
}

} // namespace lesson
