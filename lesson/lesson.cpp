#include "lesson/lesson.h"

#include "lesson/media.h"
#include "lesson/sound.h"
#include "lesson/streamedcard.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace lesson {

namespace {
constexpr int shownPointSize = 216; // three times the prompt's, so a digit fills the window
constexpr QChar escape(27);
const QString warning = QStringLiteral("Fai attenzione, non hai premuto un numero");

// Beside the title a title bar holds the window's icon and its buttons.
constexpr int titleBarRoom = 140;
// Beside its text a message box holds its icon and margins.
constexpr int boxIconColumn = 70;
} // namespace

int titleBarWidth(const QString &title)
{
    // Desktops draw titles bold at about 11 points, some larger than the program's own font.
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(std::max(font.pointSizeF(), 11.0));
    return QFontMetrics(font).horizontalAdvance(title) + titleBarRoom;
}

namespace {
bool isDigit(const QString &key)
{
    return key.size() == 1 && key.front() >= u'0' && key.front() <= u'9';
}

// The largest @Nx picture there is.
constexpr int mostTimes = 4;

// The @Nx picture for a device pixel ratio: a screen scaled by 1.85 shows the @2x picture's
// pixels, one by 3.7 the @4x's.
int timesFor(qreal ratio)
{
    return std::clamp(int(std::ceil(ratio - 0.01)), 1, mostTimes);
}

// PICTURE reduced to SIZE in its own memory, a band of rows at a time from the top: each band is
// drawn from rows at or below its own, so that a card is not held twice, whole and scaled (at 4K
// 7 and 6 MiB), as a key is answered. The JPEG reader asked for the shown size holds both too: it
// decodes smaller only by eighths, and scales the rest from a whole copy, at 4K in 25 ms.
QImage reducedInPlace(QImage picture, QSize size)
{
    uchar *bits = picture.bits(); // its own: the caller let go of it
    const qsizetype stride = picture.bytesPerLine();
    QImage band(size.width(), 64, QImage::Format_RGB32);
    for (int top = 0; top < size.height(); top += band.height()) {
        {
            QPainter painter(&band);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.translate(0, -top);
            painter.drawImage(QRectF(QPointF(0, 0), size), picture, QRectF(picture.rect()));
        }
        for (int y = top; y < std::min(top + band.height(), size.height()); ++y)
            memcpy(bits + y * stride, band.constScanLine(y - top), size_t(size.width()) * 4);
    }
    // The reduced picture is the top left of the memory it was read into, which it keeps.
    auto *kept = new QImage(std::move(picture));
    return QImage(
        kept->bits(), size.width(), size.height(), stride, QImage::Format_RGB32,
        [](void *image) { delete static_cast<QImage *>(image); }, kept);
}

// PICTURE in the screen's own pixels where the screen's scale is fractional (a full screen
// scaled by 1.85 showing an @2x card): scaled smoothly once here, where Qt would draw it scaled
// pixel by pixel, jagged, at every paint. Bilinear, by a painter: the file is chosen so that it
// is never reduced to less than half, and a 4K card takes 4 ms so where QImage's own smooth
// scaling takes 30. A picture enlarged (no larger file there) is drawn into memory of its own.
QImage toScreen(QImage picture, qreal screenRatio)
{
    // At a whole scale Qt's own drawing is exact, and what the plain window has always shown.
    if (screenRatio == std::round(screenRatio))
        return picture;
    const QSize size = (picture.deviceIndependentSize() * screenRatio).toSize();
    QImage scaled;
    if (picture.format() == QImage::Format_RGB32 && size.width() <= picture.width()
        && size.height() <= picture.height() && !size.isEmpty()) {
        scaled = reducedInPlace(std::move(picture), size);
    } else {
        scaled = QImage(size, QImage::Format_RGB32);
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(scaled.rect()), picture, QRectF(picture.rect()));
    }
    scaled.setDevicePixelRatio(screenRatio);
    return scaled;
}
} // namespace

Lesson::Lesson(const Controls &controls, Sound &sound, const QString &programFolder,
    std::function<void()> endProgram)
    : m_controls(controls)
    , m_sound(sound)
    , m_installed(programFolder + u"/IMG")
    , m_family(familyFolder())
    , m_endProgram(std::move(endProgram))
    , m_streamed(new StreamedPicture(controls.Picture1))
{ }

void Lesson::Text1_KeyPress(const QString &KeyAscii)
{
    QFont font = m_controls.Label1->font();
    font.setPointSize(shownPointSize);
    m_controls.Label1->setFont(font);

    if (KeyAscii == escape) {
        tell(QMessageBox::Warning, QStringLiteral("A presto da Zorvalde e Trucchelo"),
            QStringLiteral("Ciao alla prossima"));
        m_endProgram();
        return;
    }

    m_controls.Picture1->hide();
    m_controls.Label1->setText(KeyAscii);

    if (isDigit(KeyAscii)) {
        m_sound.suona(
            m_family + u'/' + KeyAscii + u".wav", m_installed + u'/' + KeyAscii + u".wav");
        showPicture(KeyAscii, m_controls.Picture1->devicePixelRatioF());
    } else {
        tell(QMessageBox::Question, warning, QStringLiteral("Premi un altro tasto"));
    }
}

void Lesson::readAhead()
{
    // What a key on this screen will show: the @Nx photos only where the screen is scaled.
    const int ratio = timesFor(m_controls.Picture1->devicePixelRatioF());
    QStringList files;
    for (char d = '0'; d <= '9'; ++d) {
        files << m_family + u'/' + QLatin1Char(d) + u".jpg";
        for (int n = 2; n <= ratio; ++n)
            files << m_family + u'/' + QLatin1Char(d) + u'@' + QString::number(n) + u"x.jpg";
    }
    m_pictures.readAhead(files, ratio);
    // The program's first box loads the style's icons and the bold font, a fifth of a second:
    // drawn once now, unseen, the first wrong key's box opens as quickly as any other. At the size
    // it will have: unshown it is as large as a new window, which at 4K is 16 MiB of pixels.
    const std::unique_ptr<QMessageBox> box = makeBox(QMessageBox::Question, warning, QString());
    box->adjustSize();
    box->grab();
}

void Lesson::rescaled(qreal screen)
{
    if (m_controls.Picture1->isVisible())
        showPicture(m_pictured, screen);
}

void Lesson::showPicture(const QString &digit, qreal screen)
{
    m_pictured = digit;
    const int ratio = timesFor(screen);
    // The card before goes before the next is read, so that the two are never held together. The
    // box shows nothing meanwhile, and stays hidden where no picture can be shown.
    m_controls.Picture1->hide();
    m_controls.Picture1->clear();
    if (m_streamed)
        m_streamed->clear();
    for (const QString &folder : { m_family, m_installed }) {
        const QString file = folder + u'/' + digit + u".jpg";
        // A family without its own photo for this digit is the usual case, not worth a line; one
        // copied by hand under another case of the name (8.JPG) is, as the parent meant it.
        if (folder == m_family && !QFileInfo::exists(file)) {
            for (const QString &name : QDir(m_family).entryList({ digit + u".jpg" }, QDir::Files))
                qWarning("numeri: immagine non usata, %s: deve chiamarsi %s.jpg",
                    qUtf8Printable(m_family + u'/' + name), qUtf8Printable(digit));
            continue;
        }
        // On a screen scaled above 1x the picture drawn at the screen's scale (@2x, @3x, @4x) is
        // the sharp one, or the largest below it, where it is not older than the plain one (a
        // photo copied over by hand); where those are missing or broken the plain one serves,
        // without a word.
        QString reason;
        QImage picture;
        for (int n = ratio; n > 1 && picture.isNull(); --n) {
            const QString times = folder + u'/' + digit + u'@' + QString::number(n) + u"x.jpg";
            if (QFileInfo(times).lastModified() >= QFileInfo(file).lastModified()) {
                if (showStreamed(times, n, screen))
                    return;
                picture = m_pictures.read(times, n, n, &reason);
            }
        }
        if (picture.isNull()) {
            if (showStreamed(file, 1, screen))
                return;
            picture = m_pictures.read(file, 1, ratio, &reason);
        }
        if (!picture.isNull()) {
            QLabel *box = m_controls.Picture1;
            const QSize size = picture.deviceIndependentSize().toSize();
            // Not copied: at 4K a card is 7 MiB.
            box->setPixmap(QPixmap::fromImage(toScreen(std::move(picture), screen)));
            placePicture(size);
            return;
        }
        // The child still sees and hears the digit; the parent finds the reason here.
        qWarning(
            "numeri: immagine non mostrata, %s: %s", qUtf8Printable(file), qUtf8Printable(reason));
    }
}

bool Lesson::showStreamed(const QString &file, int fileRatio, qreal screen)
{
    // Only where the screen's scale is fractional: there a card would be held decoded at the
    // screen's size, at 4K 7 MiB, and twice that while it is read. At a whole scale Qt draws the
    // file's own pixels exactly, kept as they were read.
    if (screen == std::round(screen) || !m_streamed)
        return false;
    // A card or a photo the parent's window made is small; a phone's photo copied in by hand
    // takes the store, which keeps it read ahead.
    QFile f(file);
    if (!QFileInfo(file).isFile() || f.size() > largePicture || !f.open(QIODevice::ReadOnly))
        return false;
    QByteArray jpeg = f.readAll();
    const QSize pixels = streamableJpegSize(jpeg);
    // One that is larger than the box is scaled to fit it when it is read, by the store.
    if (pixels.isEmpty() || pixels.width() > pictureBox.width() * fileRatio
        || pixels.height() > pictureBox.height() * fileRatio)
        return false;
    const QSizeF shown = QSizeF(pixels) / fileRatio;
    // The digit goes to the screen first, within the frame, and the picture drawn from its file
    // right after: decoding a card at 4K takes as long as a frame lasts.
    m_controls.Label1->repaint();
    m_streamed->show(std::move(jpeg), pixels, shown);
    placePicture(shown.toSize());
    return true;
}

void Lesson::placePicture(QSize size)
{
    // The box grows with its picture but never past the window's edge.
    QLabel *box = m_controls.Picture1;
    const QSize room = box->parentWidget()->size() - QSize(box->x(), box->y());
    box->resize(size.boundedTo(room));
    box->show();
}

std::unique_ptr<QMessageBox> Lesson::makeBox(
    QMessageBox::Icon icon, const QString &title, const QString &text) const
{
    std::unique_ptr<QMessageBox> box = m_boxMaker ? m_boxMaker(icon, title, text)
                                                  : std::make_unique<QMessageBox>(icon, title, text,
                                                      QMessageBox::Ok, m_controls.Text1->window());
    // The warning is carried mostly by the title, yet Qt sizes a box by its text, and the title
    // bar then cuts the title short. The text's column is widened until the box is as wide as
    // its title bar needs.
    if (auto *words = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        words->setMinimumWidth(titleBarWidth(title) - boxIconColumn);
    return box;
}

void Lesson::tell(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QWidget *window = m_controls.Text1->window();
    const std::unique_ptr<QMessageBox> box = makeBox(icon, title, text);
    // Waits here, as the key's answer is whole only once the box is closed: the goodbye ends the
    // program after its OK, and no key reaches the lesson meanwhile.
    box->exec();
    // Without a window manager the focus would stay with the closed box.
    window->activateWindow();
    m_controls.Text1->setFocus(Qt::OtherFocusReason);
}

} // namespace lesson
