#include "lesson/lesson.h"

#include "lesson/media.h"
#include "lesson/sound.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <utility>

namespace lesson {

namespace {
constexpr int shownPointSize = 216; // three times the prompt's, so a digit fills the window
constexpr QChar escape(27);

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
} // namespace

Lesson::Lesson(const Controls &controls, Sound &sound, const QString &programFolder,
    std::function<void()> endProgram)
    : m_controls(controls)
    , m_sound(sound)
    , m_programFolder(programFolder)
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
        m_sound.suona(mediaFile(KeyAscii, u".wav"));
        showPicture(KeyAscii);
    } else {
        tell(QMessageBox::Question, QStringLiteral("Fai attenzione, non hai premuto un numero"),
            QStringLiteral("Premi un altro tasto"));
    }
}

QString Lesson::mediaFile(const QString &digit, QStringView suffix) const
{
    return m_programFolder + u"/IMG/" + digit + suffix;
}

void Lesson::showPicture(const QString &digit)
{
    QLabel *box = m_controls.Picture1;
    // On a screen scaled above 1x the card drawn at twice the size is the sharp one; where it is
    // missing or broken the plain card serves, without a word.
    const int ratio = box->devicePixelRatioF() > 1 ? 2 : 1;
    const QString file = mediaFile(digit, u".jpg");
    QString reason;
    QImage picture;
    if (ratio > 1)
        picture = readPicture(mediaFile(digit, u"@2x.jpg"), 2, 2, &reason);
    if (picture.isNull())
        picture = readPicture(file, 1, ratio, &reason);
    if (picture.isNull()) {
        // The child still sees and hears the digit; the parent finds the reason here.
        qWarning(
            "numeri: immagine non mostrata, %s: %s", qUtf8Printable(file), qUtf8Printable(reason));
        return;
    }

    box->setPixmap(QPixmap::fromImage(picture));
    // The box grows with its picture but never past the window's edge.
    const QSize room = box->parentWidget()->size() - QSize(box->x(), box->y());
    box->resize(picture.deviceIndependentSize().toSize().boundedTo(room));
    box->show();
}

void Lesson::tell(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QWidget *window = m_controls.Text1->window();
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    // The warning is carried mostly by the title, yet Qt sizes a box by its text, and the title
    // bar then cuts the title short. The text's column is widened until the box is as wide as
    // its title bar needs.
    if (auto *words = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        words->setMinimumWidth(titleBarWidth(title) - boxIconColumn);
    box.exec();
    // Without a window manager the focus would stay with the closed box.
    window->activateWindow();
    m_controls.Text1->setFocus(Qt::OtherFocusReason);
}

} // namespace lesson
