#include "shell/form1.h"

#include "lock/boxinwindow.h"
#include "lock/escapehold.h"
#include "ui_form1.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleHints>

namespace {
// The key catcher is meant to be unseen, but a text cursor is drawn inverted and would blink white
// on the black window.
class NoTextCursorStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(
        PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        return metric == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Alt alone would take the keyboard into the menu bar, where every key after it is swallowed
// until Enter or Esc: a child who taps Alt would find the lesson dead.
class NoAltNavigationStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
        QStyleHintReturn *returned) const override
    {
        return hint == SH_MenuBar_AltKeyNavigation
            ? 0
            : QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

// The end of the program: leaves every event loop, an open box's too, so main() returns at once.
void endProgram()
{
    QCoreApplication::exit(0);
}
} // namespace

Form1::Form1(lesson::Sound &sound, const QString &programFolder, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Form1>())
{
    ui->setupUi(this);
    // A form holds only the standard cursor shapes, so the picture pointer is set here; the icon
    // finds its @2x twin where the screen is scaled.
    const QIcon pointer(QStringLiteral(":/icons/pointer.png"));
    setCursor(QCursor(pointer.pixmap(QSize(32, 32), devicePixelRatioF()), 0, 0));
    // Made after the form, so that it is destroyed after the catcher that uses it.
    auto *catcherStyle = new NoTextCursorStyle;
    catcherStyle->setParent(this);
    ui->Text1->setStyle(catcherStyle);
    // Nor should the hidden cursor blink: each blink repaints the catcher, twice a second, for
    // nothing. Text1 is the program's only text field.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_lesson
        = std::make_unique<lesson::Lesson>(lesson::Controls { ui->Label1, ui->Picture1, ui->Text1 },
            sound, programFolder, &endProgram);
    ui->Text1->installEventFilter(this);
    ui->Text1->setFocus();
}

Form1::~Form1() = default;

void Form1::holdEscapeToLeave()
{
    const QString caption = QStringLiteral("Per uscire tieni premuto il tasto esc");
    ui->Esc->setText(caption);
    auto *menuStyle = new NoAltNavigationStyle;
    menuStyle->setParent(this);
    ui->menubar->setStyle(menuStyle);
    // The full screen is the lesson's one window: its boxes are drawn in it.
    m_lesson->setBoxMaker([this](QMessageBox::Icon icon, const QString &title,
                              const QString &text) -> std::unique_ptr<QMessageBox> {
        return std::make_unique<lock::BoxInWindow>(icon, title, text, this);
    });
    auto *hold = new lock::EscapeHold(ui->Text1, this);
    // Let go at once, Esc is a key like a letter, shown by its name, as the typed character
    // cannot be drawn.
    connect(hold, &lock::EscapeHold::tapped, this,
        [this] { m_lesson->Text1_KeyPress(QStringLiteral("Esc")); });
    connect(hold, &lock::EscapeHold::held, this,
        [this] { m_lesson->Text1_KeyPress(QString(QChar(27))); });
    connect(hold, &lock::EscapeHold::secondsLeft, this, [this, caption](int seconds) {
        QString shown = caption;
        if (seconds == 1)
            shown += u": ancora 1 secondo";
        else if (seconds > 1)
            shown += QStringLiteral(": ancora %1 secondi").arg(seconds);
        ui->Esc->setText(shown);
    });
}

void Form1::fine()
{
    // Nothing is painted on the window's own surface beyond its controls; repainting is the clear.
    update();
    endProgram();
}

void Form1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Without a window manager nobody else gives the window the keyboard.
    activateWindow();
    ui->Text1->setFocus(Qt::ActiveWindowFocusReason);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Text1 && event->type() == QEvent::KeyPress) {
        // Keys that type nothing (Shift, arrows, F-keys) are not the lesson's business.
        const QString typed = static_cast<QKeyEvent *>(event)->text();
        if (!typed.isEmpty())
            m_lesson->Text1_KeyPress(typed);
    } else if (watched == ui->Text1 && event->type() == QEvent::InputMethod) {
        // Characters made by dead keys, Compose or an input method arrive committed, not pressed:
        // each one is a key of its own. A composition still under way is nothing yet.
        const QList<uint> committed
            = static_cast<QInputMethodEvent *>(event)->commitString().toUcs4();
        for (const char32_t c : committed)
            m_lesson->Text1_KeyPress(QString::fromUcs4(&c, 1));
    }
    // Not consumed: the character goes on into the catcher as typed text.
    return QMainWindow::eventFilter(watched, event);
}
