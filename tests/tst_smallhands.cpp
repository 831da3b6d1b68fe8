// What a small child's hands, or a parent's slip, can do to the locked lesson in the window itself:
// its boxes, Alt, Esc held, a palm on the keyboard, stray clicks, and the parent's choice as
// written.
#include "lock/settings.h"
#include "testkit.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenuBar>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace testkit;

class TestSmallHands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup() { m_lesson.reset(); }
    void strayHands_data();
    void strayHands();
    void palm_data();
    void palm();
    void settingsValues_data();
    void settingsValues();

private:
    QLabel *label() const { return m_lesson->label(); }
    QLineEdit *catcher() const { return m_lesson->catcher(); }

    QTemporaryDir m_dir;
    std::optional<LessonWindow> m_lesson; // as the program opens it, locked or plain
};

// A family folder of the tests' own, which the lesson reads photos from, and settings.
void TestSmallHands::initTestCase()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
}

void TestSmallHands::strayHands_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<int>("closer");
    // Space presses the box's button as Enter does; Esc is also a key of the lesson's, and the
    // plain lesson's box is Qt's own, which Enter closes as it closes every other.
    QTest::newRow("locked, closed by Enter") << true << int(Qt::Key_Return);
    QTest::newRow("locked, closed by Esc") << true << int(Qt::Key_Escape);
    QTest::newRow("plain, closed by Esc") << false << int(Qt::Key_Escape);
}

// Faults: the warning box losing its keys; the lesson behind it taking keys or clicks while it is
// open; Esc that closed a box taken for a key of the lesson's too; the keyboard not given back
// after it (where the locked lesson's box stands, and as what, tst_fullscale sees on the screen).
// Then a click that takes the keyboard from Text1, so that the next key goes nowhere; a right click
// on the unseen key catcher opening Qt's edit menu (Annulla, Taglia, Incolla…); in the locked
// lesson, Alt alone taking the keyboard into the menu bar, which swallows every key after it.
void TestSmallHands::strayHands()
{
    QFETCH(bool, locked);
    QFETCH(int, closer);
    QVERIFY(m_lesson.emplace().show(locked));
    QStringList wrong;
    QTimer::singleShot(100, this, [&] {
        QMessageBox *box = openBox();
        if (!box)
            return wrong.append(QStringLiteral("no box"));
        // The d that opened it is let go in it.
        key(QEvent::KeyRelease, Qt::Key_D, QStringLiteral("d"));
        // A click on the catcher, and a key, while the box is open: neither reaches the lesson.
        QWidget *central = m_lesson->form()->centralWidget();
        QTest::mouseClick(
            central, Qt::LeftButton, {}, catcher()->mapTo(central, catcher()->rect().center()));
        if (QApplication::focusWidget() != box->button(QMessageBox::Ok))
            wrong << QStringLiteral("the box lost the keyboard");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() != box->button(QMessageBox::Ok))
            wrong << QStringLiteral("Tab left the box");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_7, {}, 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(closer));
    });
    key(QEvent::KeyPress, Qt::Key_D, QStringLiteral("d"));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u", ")));
    QTRY_COMPARE(QApplication::focusWidget(), catcher());
    QTest::qWait(300); // an Esc taken for a key would open its box by now
    QVERIFY(!openBox());
    QCOMPARE(label()->text(), QStringLiteral("d"));
    // A digit first, for a picture to click on.
    QTest::keyClick(catcher(), Qt::Key_2, {}, 0);
    const QList<QWidget *> targets
        = { catcher(), m_lesson->picture(), label(), m_lesson->form()->menuBar() };
    for (QWidget *target : targets) {
        // A right click as the window hands it on, the click and then the request for a menu.
        const QPoint at(5, 5);
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        QTest::mouseClick(target, Qt::RightButton, {}, at);
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &request);
        if (locked) // the plain window's menu bar answers Alt as Qt's do
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Alt, Qt::AltModifier);
        QTest::qWait(100);
        QWidget *menu = QApplication::activePopupWidget();
        if (menu)
            menu->close();
        QVERIFY2(!menu, qPrintable(target->objectName() + u": a menu opened"));
        const int digit = 3 + int(targets.indexOf(target));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(Qt::Key_0 + digit), {}, 0);
        QCOMPARE(label()->text(), QString::number(digit));
    }
}

void TestSmallHands::palm_data()
{
    // When an arrow goes down and is let go, in ms from Esc's press; `never` is after the case.
    QTest::addColumn<int>("otherDown");
    QTest::addColumn<int>("otherUp");
    QTest::addColumn<bool>("leaves");
    constexpr int never = 99999;
    QTest::newRow("an arrow down first") << -100 << never << false;
    QTest::newRow("an arrow down meanwhile") << 1000 << never << false;
    QTest::newRow("an arrow let go before Esc") << -200 << -100 << true;
}

// Faults: a palm resting on the keyboard, Esc among its keys, leaves the lesson after the hold;
// a key let go before Esc still counted as held, so that the parent cannot leave. Where it leaves:
// the hold shortened; a second shown before it has begun (the count rounded down), or late; a
// repeat taken for a release; the held key's repeats closing the goodbye box before the parent
// has read it. tst_lockdown x11 holds Esc with X's own repeats.
void TestSmallHands::palm()
{
    QFETCH(int, otherDown);
    QFETCH(int, otherUp);
    QFETCH(bool, leaves);
    QVERIFY(m_lesson.emplace().show(true));
    QEventLoop program; // stands for the program's loop, which the end leaves
    QString shown;
    std::unique_ptr<BoxCloser> closer;
    const QString esc = QStringLiteral("\x1b");
    const int escDown = 300; // the hold starts here
    QElapsedTimer held;
    QStringList captions;
    QList<qint64> shownAt; // each caption's first sight on the hold's clock
    const QAction *caption = m_lesson->form()->menuBar()->actions().value(0);
    connect(caption, &QAction::changed, &program, [&] {
        captions << caption->text();
        shownAt << held.elapsed();
    });
    // Esc held as X sends it: a release and a press every 40 ms, flagged as repeats after the
    // first.
    QTimer hand;
    int pairs = 0;
    connect(&hand, &QTimer::timeout, &program, [&] {
        if (held.elapsed() < 3300) {
            key(QEvent::KeyRelease, Qt::Key_Escape, esc, pairs > 0);
            key(QEvent::KeyPress, Qt::Key_Escape, esc, pairs++ > 0);
            return;
        }
        hand.stop();
        if (QMessageBox *box = openBox())
            shown = box->windowTitle();
        closer = std::make_unique<BoxCloser>();
        key(QEvent::KeyRelease, Qt::Key_Escape, esc);
    });
    // Timed in the case's own loop, so that none is left to press a key in a later case.
    QTimer::singleShot(escDown + otherDown, &program, [] { key(QEvent::KeyPress, Qt::Key_Left); });
    QTimer::singleShot(escDown + otherUp, &program, [] { key(QEvent::KeyRelease, Qt::Key_Left); });
    QTimer::singleShot(escDown, &program, [&] {
        held.start();
        key(QEvent::KeyPress, Qt::Key_Escape, esc);
        hand.start(40);
    });
    // Whatever the window does, the case ends: a box left open is closed.
    QTimer::singleShot(escDown + 4000, &program, [&] { closer = std::make_unique<BoxCloser>(); });
    QTimer::singleShot(escDown + 4500, &program, [&] { program.exit(99); });
    const int status = program.exec();
    // The end of the program leaves Qt's every later loop ending at once until the application's
    // own loop has run.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    QCOMPARE(status, leaves ? 0 : 99);
    QCOMPARE(shown, leaves ? QStringLiteral("A presto da Zorvalde e Trucchelo") : QString());
    if (!leaves)
        return;
    const QString words = QStringLiteral("Per uscire tieni premuto il tasto esc");
    QCOMPARE(captions.mid(0, 4),
        QStringList({ words + u": ancora 3 secondi", words + u": ancora 2 secondi",
            words + u": ancora 1 secondo", words }));
    // Each later caption a whole second after the last: never sooner, and late by at most a few
    // of the hold's ticks, however busy the machine.
    for (qsizetype i = 1; i < 4; ++i)
        QVERIFY2(shownAt[i] >= i * 1000 && shownAt[i] < i * 1000 + 400,
            qPrintable(captions[i] + u" at " + QString::number(shownAt[i]) + u" ms"));
}

void TestSmallHands::settingsValues_data()
{
    QTest::addColumn<QByteArray>("line"); // under [lezione]
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("said");
    // The written words in any case, as the plain ones are read the same way.
    QTest::newRow("TRUE") << QByteArray("schermoIntero = TRUE") << true << false;
    QTest::newRow("False") << QByteArray("schermoIntero=False") << false << false;
    QTest::newRow("none") << QByteArray("altro=1") << false << false;
    for (const char *other : { "no", "off", "maybe", "1", "0", "\"true\"", "yes", "" })
        QTest::addRow("%s", *other ? other : "empty")
            << QByteArray("schermoIntero=") + other << false << true;
}

// Faults: a word that is not a choice (no, off, maybe, 1, "true") taken for yes, and the lesson
// locked against the parent's wish; such a word taken silently for no.
void TestSmallHands::settingsValues()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, locked);
    QFETCH(bool, said);
    QVERIFY(write(lock::settingsFile(), "[lezione]\n" + line + "\n"));
    // Standard error, which is not buffered, caught in a file for the call.
    const QString caught = m_dir.filePath(QStringLiteral("stderr"));
    const int saved = ::dup(2);
    FILE *file = std::fopen(QFile::encodeName(caught).constData(), "w");
    ::dup2(::fileno(file), 2);
    const bool on = lock::alwaysFullScreen();
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(file);
    QCOMPARE(on, locked);
    QCOMPARE(contentOf(caught).contains("non è né true né false"), said);
}

NUMERI_TEST_MAIN(TestSmallHands)

#include "tst_smallhands.moc"
