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
