#include "lesson/lesson.h"

#include "lesson/media.h"
#include "lesson/sound.h"

#include <QApplication>
#include <QDir>
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

// Bilinear, as a painter's smooth drawing samples it, in the picture's own memory, row by row from
// the top: each row drawn reads only rows at or below its own where the picture is reduced, so
// that a card is not held twice, whole and scaled (at 4K 7 and 6 MiB), as a key is answered. The
// JPEG reader asked for the shown size holds both too: it decodes smaller only by eighths, and
// scales the rest from a whole copy, at 4K in 25 ms.
QImage reducedInPlace(QImage picture, QSize size)
{
    const int w = size.width(), h = size.height();
    const qint64 sx = (qint64(picture.width()) << 16) / w,
                 sy = (qint64(picture.height()) << 16) / h;
    std::vector<int> left(size_t(w), 0), weight(size_t(w), 0);
    for (int x = 0; x < w; ++x) {
        const qint64 at = x * sx + (sx - 0x10000) / 2;
        left[size_t(x)] = int(at >> 16);
        weight[size_t(x)] = int((at >> 8) & 0xff);
    }
    // Two pixels' channels mixed at once, as Qt's own drawing does: WEIGHT of B out of 256.
    const auto mix = [](quint32 a, quint32 b, quint32 weight) {
        const quint32 rb = (((a & 0xff00ff) * (256 - weight) + (b & 0xff00ff) * weight) >> 8);
        const quint32 ag = ((a >> 8) & 0xff00ff) * (256 - weight) + ((b >> 8) & 0xff00ff) * weight;
        return (rb & 0xff00ff) | (ag & 0xff00ff00);
    };
    const int lastX = picture.width() - 1, lastY = picture.height() - 1;
    uchar *bits = picture.bits();
    const qsizetype stride = picture.bytesPerLine();
    // Each row mixed down first, then across: fewer mixes than across twice.
    std::vector<quint32> between(static_cast<size_t>(picture.width())), row(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const qint64 at = y * sy + (sy - 0x10000) / 2;
        const int top = int(at >> 16);
        const auto *upper = reinterpret_cast<const quint32 *>(bits + top * stride);
        const auto *lower
            = reinterpret_cast<const quint32 *>(bits + std::min(top + 1, lastY) * stride);
        const quint32 down = quint32((at >> 8) & 0xff);
        for (size_t x = 0; x < between.size(); ++x)
            between[x] = mix(upper[x], lower[x], down);
        for (size_t x = 0; x < size_t(w); ++x)
            row[x] = mix(between[size_t(left[x])], between[size_t(std::min(left[x] + 1, lastX))],
                quint32(weight[x]));
        memcpy(bits + y * stride, row.data(), size_t(w) * 4);
    }
    // The reduced picture is the top left of the memory it was read into, which it keeps.
    auto *kept = new QImage(std::move(picture));
    return QImage(
        kept->bits(), w, h, stride, QImage::Format_RGB32,
        [](void *image) { delete static_cast<QImage *>(image); }, kept);
}

// PICTURE in the screen's own pixels where the screen's scale is fractional (a full screen
// scaled by 1.85 showing an @2x card): scaled smoothly once here, where Qt would draw it scaled
// pixel by pixel, jagged, at every paint. Bilinear: the file is chosen so that it is never reduced
// to less than half, and a 4K card takes 4 to 5 ms so where QImage's own smooth scaling takes 30.
// A picture enlarged (no larger file there) is drawn by a painter into memory of its own.
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
        showPicture(KeyAscii);
    } else {
        tell(QMessageBox::Question, warning, QStringLiteral("Premi un altro tasto"));
    }
}

void Lesson::readAhead()
{
    // What a key on this screen will show: the @Nx photos only where the screen is scaled.
    const int ratio = screenRatio();
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

int Lesson::screenRatio() const
{
    // A screen scaled by 1.85 shows the @2x picture's pixels, one by 3.7 the @4x's.
    const qreal ratio = m_controls.Picture1->devicePixelRatioF();
    return std::clamp(int(std::ceil(ratio - 0.01)), 1, mostTimes);
}

void Lesson::rescaled()
{
    if (m_controls.Picture1->isVisible())
        showPicture(m_pictured);
}

void Lesson::showPicture(const QString &digit)
{
    m_pictured = digit;
    const int ratio = screenRatio();
    // The card before goes before the next is read, so that the two are never held together. The
    // box shows nothing meanwhile, and stays hidden where no picture can be shown.
    m_controls.Picture1->hide();
    m_controls.Picture1->clear();
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
            if (QFileInfo(times).lastModified() >= QFileInfo(file).lastModified())
                picture = m_pictures.read(times, n, n, &reason);
        }
        if (picture.isNull())
            picture = m_pictures.read(file, 1, ratio, &reason);
        if (!picture.isNull()) {
            QLabel *box = m_controls.Picture1;
            const QSize size = picture.deviceIndependentSize().toSize();
            // Not copied: at 4K a card is 7 MiB.
            box->setPixmap(
                QPixmap::fromImage(toScreen(std::move(picture), box->devicePixelRatioF())));
            // The box grows with its picture but never past the window's edge.
            const QSize room = box->parentWidget()->size() - QSize(box->x(), box->y());
            box->resize(size.boundedTo(room));
            box->show();
            return;
        }
        // The child still sees and hears the digit; the parent finds the reason here.
        qWarning(
            "numeri: immagine non mostrata, %s: %s", qUtf8Printable(file), qUtf8Printable(reason));
    }
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
