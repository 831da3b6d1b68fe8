#include "testkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace testkit {

QString builtMedia()
{
    return QStringLiteral(NUMERI_MEDIA_DIR);
}

void copyMedia(const QString &folder)
{
    QDir().mkpath(folder + u"/IMG");
    const QDir media(builtMedia());
    for (const QString &name : media.entryList(QDir::Files))
        QFile::copy(media.filePath(name), folder + u"/IMG/" + name);
}

QByteArray withOrientation6(const QByteArray &jpeg)
{
    // An APP1 segment right after the start marker: a big-endian TIFF header and one IFD entry,
    // tag 0x0112 (orientation), one SHORT, 6.
    const QByteArray exif(
        "Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    return "\xff\xd8\xff\xe1" + QByteArray(1, 0) + char(exif.size() + 2) + exif + jpeg.mid(2);
}

BoxCloser::BoxCloser()
    : m_boxes(std::make_shared<QList<SeenBox>>())
    , m_poll(std::make_unique<QTimer>())
{
    QObject::connect(m_poll.get(), &QTimer::timeout, m_poll.get(), [boxes = m_boxes] {
        auto *open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!open || !open->isVisible() || open->property("seen").toBool())
            return;
        open->setProperty("seen", true);
        boxes->append({ open->windowTitle(), open->text(), open->icon(), open->standardButtons(),
            open->width() });
        QTest::mouseClick(open->button(QMessageBox::Ok), Qt::LeftButton);
    });
    m_poll->start(0);
}

} // namespace testkit
