#include "testkit.h"

#include "lock/fullscreen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace testkit {

QByteArray contentOf(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
}

bool write(const QString &file, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

int mode(const QString &file)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void withRoom(unsigned long room, const std::function<void()> &work)
{
    rlimit was {};
    ::getrlimit(RLIMIT_FSIZE, &was);
    rlimit full = was;
    full.rlim_cur = room ? rlim_t(room) : was.rlim_cur;
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    work();
    ::setrlimit(RLIMIT_FSIZE, &was);
}

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

QByteArray phonePhoto()
{
    QImage photo(3000, 4000, QImage::Format_RGB32);
    photo.fill(Qt::red);
    for (int y = 2000; y < 4000; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(photo.scanLine(y)), 3000, qRgb(0, 0, 255));
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    photo.transformed(QTransform().rotate(-90)).save(&jpeg, "JPEG");
    // An APP1 segment right after the start marker: a big-endian TIFF header and one IFD entry,
    // tag 0x0112 (orientation), one SHORT, 6.
    const QByteArray exif(
        "Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    return "\xff\xd8\xff\xe1" + QByteArray(1, 0) + char(exif.size() + 2) + exif
        + jpeg.data().mid(2);
}

QByteArray png(const QImage &picture)
{
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    picture.save(&png, "PNG");
    return png.data();
}

QByteArray transparentPicture()
{
    QImage picture(300, 200, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 200; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(picture.scanLine(y)) + 100, 200,
            y < 100 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return png(picture);
}

QByteArray hugePicture()
{
    return QByteArrayLiteral("P6\n20000 20000\n255\n") + QByteArray(64, '\x7f');
}

QMessageBox *openBox()
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
        return box;
    for (QWidget *w = QApplication::focusWidget(); w; w = w->parentWidget())
        if (auto *box = qobject_cast<QMessageBox *>(w))
            return box;
    return nullptr;
}

BoxCloser::BoxCloser()
    : m_boxes(std::make_shared<QList<SeenBox>>())
    , m_poll(std::make_unique<QTimer>())
{
    QObject::connect(m_poll.get(), &QTimer::timeout, m_poll.get(), [boxes = m_boxes] {
        QMessageBox *open = openBox();
        if (!open || !open->isVisible() || open->property("seen").toBool())
            return;
        open->setProperty("seen", true);
        boxes->append({ open->windowTitle(), open->text(), open->icon(),
            QRect(open->mapToGlobal(QPoint()), open->size()) });
        QTest::mouseClick(open->button(QMessageBox::Ok), Qt::LeftButton);
    });
    m_poll->start(0);
}

QList<SeenBox> press(const QString &text, Qt::KeyboardModifiers modifiers)
{
    BoxCloser closer;
    QWidget *target = QApplication::focusWidget();
    const Qt::Key key = text == u"\x1b" ? Qt::Key_Escape : Qt::Key_unknown;
    if (target) {
        QTest::sendKeyEvent(QTest::Press, target, key, text, modifiers);
        QTest::sendKeyEvent(QTest::Release, target, key, text, modifiers);
    }
    return closer.boxes();
}

void key(QEvent::Type type, Qt::Key code, const QString &text, bool repeat)
{
    QKeyEvent event(type, code, {}, text, repeat);
    if (QWidget *target = QApplication::focusWidget())
        QApplication::sendEvent(target, &event);
}

LessonWindow::LessonWindow(const QString &programFolder)
    : m_form(new Form1(sound, programFolder))
    , m_window(m_form)
{ }

bool LessonWindow::show(bool locked, int timeout)
{
    if (locked) {
        // The form is the full screen's child from now on.
        m_window.reset(new lock::FullScreen(m_window.release()));
        m_form->holdEscapeToLeave();
        m_window->showFullScreen();
    } else {
        m_form->show();
    }
    return QTest::qWaitForWindowActive(m_window.get(), timeout)
        && QTest::qWaitFor([this] { return QApplication::focusWidget() == catcher(); }, timeout);
}

} // namespace testkit
