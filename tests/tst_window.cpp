// The window as it first shows, compared with its design, property by property.
#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"
#include "testkit.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
class SilentSound : public lesson::Sound
{
public:
    void suona(const QString &) override { }
};
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void design_data();
    void design();
    void painted_data();
    void painted();
    void menuItemDoesNothing();
    void closingEndsTheProgram();
    void fineEndsTheProgram();

private:
    template<typename T> T *control(const char *name) const
    {
        auto *c = m_window->findChild<T *>(QLatin1String(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }

    SilentSound m_sound;
    std::unique_ptr<Form1> m_window;
};

void TestWindow::initTestCase()
{
    m_window = std::make_unique<Form1>(m_sound, testkit::builtMedia() + u"/..");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestWindow::cleanupTestCase()
{
    m_window.reset();
}

void TestWindow::design_data()
{
    QTest::addColumn<QVariant>("actual");
    QTest::addColumn<QVariant>("expected");

    auto *label = control<QLabel>("Label1");
    auto *picture = control<QLabel>("Picture1");
    auto *button = control<QPushButton>("Command1");
    auto *catcher = control<QLineEdit>("Text1");
    auto *menu = m_window->menuBar();
    const auto colour = [](const QWidget *w, QPalette::ColorRole role) {
        return QVariant(w->palette().color(role).name());
    };
    const auto row = [](const char *name, const QVariant &actual, const QVariant &expected) {
        QTest::newRow(name) << actual << expected;
    };

    row("Form1 title", m_window->windowTitle(), QStringLiteral("Ti insegno i numeri fino a 9"));
    row("Form1 client area", m_window->centralWidget()->size(), QSize(517, 554));
    row("Form1 fixed size", m_window->minimumSize() == m_window->maximumSize(), true);
    row("Form1 background", colour(m_window->centralWidget(), QPalette::Window),
        QStringLiteral("#000000"));
    row("Form1 icon 32", m_window->windowIcon().availableSizes().value(0), QSize(32, 32));
    row("Form1 pointer is a picture", int(m_window->cursor().shape()), int(Qt::BitmapCursor));
    row("Form1 pointer size", m_window->cursor().pixmap().size(), QSize(32, 32));
    row("Form1 pointer hot spot", m_window->cursor().hotSpot(), QPoint(0, 0));
    row("version", QCoreApplication::applicationVersion(), QStringLiteral("1.00"));
    row("Qt speaks Italian", QCoreApplication::translate("QPlatformTheme", "Cancel"),
        QStringLiteral("Annulla"));

    row("Esc menu items", menu->actions().size(), 1);
    row("Esc caption", menu->actions().value(0)->text(),
        QStringLiteral("Per uscire dal programma premi il tasto esc"));
    row("Esc has no submenu", menu->actions().value(0)->menu() == nullptr, true);

    row("Label1 geometry", label->geometry(), QRect(32, -24, 419, 351));
    row("Label1 caption", label->text(), QStringLiteral("Premi un tasto  numerico"));
    row("Label1 font face", label->font().family(), QStringLiteral("Arial"));
    row("Label1 font size", label->font().pointSize(), 72);
    row("Label1 bold", label->font().bold(), true);
    row("Label1 text colour", colour(label, QPalette::WindowText), QStringLiteral("#00ffff"));
    row("Label1 background", colour(label, QPalette::Window), QStringLiteral("#000000"));
    row("Label1 centred", int(label->alignment()), int(Qt::AlignCenter));
    row("Label1 wraps", label->wordWrap(), true);
    row("Label1 visible", label->isVisible(), true);
    const QObjectList stacking = m_window->centralWidget()->children();
    row("Label1 under the others", stacking.indexOf(label), 0);
    row("a picture hides the catcher", stacking.indexOf(picture) > stacking.indexOf(catcher), true);

    row("Picture1 geometry", picture->geometry(), QRect(24, 272, 65, 73));
    row("Picture1 hidden", picture->isVisible(), false);
    row("Picture1 no picture", picture->pixmap().isNull(), true);

    row("Command1 geometry", button->geometry(), QRect(376, 0, 97, 73));
    row("Command1 caption", button->text(), QStringLiteral("Per uscire   premi  il tasto esc"));
    row("Command1 tooltip", button->toolTip(), QStringLiteral("Per uscire cliccami!"));
    row("Command1 font face", button->font().family(), QStringLiteral("MS Sans Serif"));
    row("Command1 font size", button->font().pointSize(), 12);
    row("Command1 bold", button->font().bold(), true);
    row("Command1 colour", colour(button, QPalette::Button), QStringLiteral("#80ffff"));
    row("Command1 hidden", button->isVisible(), false);
    row("Command1 disabled", button->isEnabled(), false);

    row("Text1 geometry", catcher->geometry(), QRect(312, 487, 4, 10));
    row("Text1 text", catcher->text(), QStringLiteral("Text1"));
    // What is typed collects there unseen; the bound keeps a long session's memory flat.
    row("Text1 keeps 1000 characters", catcher->maxLength(), 1000);
    row("Text1 background", colour(catcher, QPalette::Base), QStringLiteral("#000000"));
    row("Text1 text colour", colour(catcher, QPalette::Text), QStringLiteral("#000000"));
    row("Text1 font face", catcher->font().family(), QStringLiteral("MS Serif"));
    row("Text1 font size", catcher->font().pointSize(), 6);
    row("Text1 regular", catcher->font().bold(), false);
    row("Text1 has the keys", QApplication::focusWidget() == catcher, true);
    row("only Text1 takes the focus",
        label->focusPolicy() | picture->focusPolicy() | menu->focusPolicy()
            | m_window->centralWidget()->focusPolicy(),
        int(Qt::NoFocus));
}

void TestWindow::design()
{
    QFETCH(QVariant, actual);
    QFETCH(QVariant, expected);
    QCOMPARE(actual, expected);
}

void TestWindow::painted_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");

    // The prompt is big cyan type on black; the rest of the window, the catcher included, black.
    QTest::newRow("prompt is cyan")
        << QRect(32, 0, 419, 327) << qRgb(0, 255, 255) << 20000 << 200000;
    QTest::newRow("below the prompt is black")
        << QRect(0, 340, 517, 214) << qRgb(0, 0, 0) << 517 * 214 << 517 * 214;
    QTest::newRow("no text cursor shows") << QRect(300, 480, 30, 30) << qRgb(0, 0, 0) << 900 << 900;
}

void TestWindow::painted()
{
    QFETCH(QRect, area);
    QFETCH(QRgb, colour);
    QFETCH(int, least);
    QFETCH(int, most);
    // Twice, a cursor's blink apart, so a blinking text cursor cannot hide.
    for (int i = 0; i < 2; ++i) {
        const QImage shot = m_window->centralWidget()->grab(area).toImage();
        const int n = testkit::countNear(shot, colour, 30);
        QVERIFY2(n >= least && n <= most, qPrintable(QString::number(n)));
        QTest::qWait(QApplication::cursorFlashTime() / 2 + 50);
    }
}

void TestWindow::menuItemDoesNothing()
{
    auto *label = control<QLabel>("Label1");
    const QString before = label->text();
    m_window->menuBar()->actions().value(0)->trigger();
    QTest::mouseClick(m_window->menuBar(), Qt::LeftButton, {}, QPoint(40, 8));
    QCOMPARE(label->text(), before);
    QVERIFY(m_window->isVisible());
    QCOMPARE(QApplication::focusWidget(), control<QLineEdit>("Text1"));
}

void TestWindow::closingEndsTheProgram()
{
    // The title bar's close button: the last window closes and the program's loop ends with 0.
    QTimer::singleShot(0, m_window.get(), [this] { m_window->close(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestWindow::fineEndsTheProgram()
{
    QTimer::singleShot(0, m_window.get(), [this] { m_window->fine(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
