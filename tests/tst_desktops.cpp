// The locked full screen on the desktops families use, GNOME Shell and KDE's KWin, each started
// afresh for each case and driven from outside as a keyboard would: whether the desktop's own
// shortcut still reaches it, and whether GNOME's refusal is told.
#include "desktops/desktop.h"
#include "testkit.h"

#include <QElapsedTimer>
#include <QTest>

using namespace testkit;

namespace {
// Linux key codes.
const int escape = 1, enter = 28;
const QByteArray deniedLine = "il desktop non ha concesso i suoi tasti";
const QStringList fullScreen { QStringLiteral("--schermo-intero") };

// The lesson, run in DESKTOP's session; what it says on standard error is kept.
class Lesson
{
public:
    explicit Lesson(Desktop &desktop, const QStringList &arguments)
    {
        m_program.setProcessEnvironment(desktop.env());
        m_program.start(QStringLiteral(NUMERI_BUILD_DIR "/numeri"), arguments);
    }
    ~Lesson()
    {
        if (QTest::currentTestFailed())
            qWarning("numeri said: %s", said().constData());
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished();
        }
    }
    QByteArray said() { return m_said += m_program.readAllStandardError(); }
    QProcess &process() { return m_program; }

private:
    QProcess m_program;
    QByteArray m_said;
};
} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shortcuts_data();
    void shortcuts();
    void gnomeAnswer_data();
    void gnomeAnswer();
};

namespace {
// GNOME: how many windows the lesson has.
int lessonWindows(Desktop &desktop)
{
    return desktop
        .eval(QStringLiteral("global.get_window_actors().filter(a => a.meta_window.get_wm_class()"
                             " == 'org.numeri.numeri').length"))
        .toInt();
}

// The shortcut pressed three times, as a child tries again: how many times it fired (GNOME may let
// one go by while its overview closes).
int shortcutsFired(Desktop &desktop)
{
    int fired = 0;
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(400);
        if (!desktop.pressShortcut())
            return -1;
        QTest::qWait(400);
        fired += desktop.shortcutFired();
    }
    return fired;
}

// GNOME keeps its answer under the desktop file's name, found where it can be run, and reads the
// desktop files as it starts.
void install(Desktop &desktop)
{
    QByteArray entry
        = contentOf(QStringLiteral(NUMERI_SOURCE_DIR "/packaging/" NUMERI_APP_ID ".desktop"));
    entry.replace("\nExec=numeri\n", "\nExec=" NUMERI_BUILD_DIR "/numeri\n");
    QVERIFY(write(desktop.folder() + u"/data/applications/" NUMERI_APP_ID ".desktop", entry));
}

bool dialogOpen(Desktop &desktop)
{
    // GNOME's question: a modal dialog of the shell's, open (state 0).
    return desktop.eval(QStringLiteral("Main.layoutManager.modalDialogGroup.get_children()"
                                       ".filter(d => d.constructor.name == 'ModalDialog' "
                                       "&& d.visible && d.state == 0).length"))
        == u"1";
}

} // namespace

void TestDesktops::shortcuts_data()
{
    QTest::addColumn<Desktop::Kind>("kind");
    QTest::addColumn<bool>("locked");
    QTest::newRow("GNOME, plain, which proves the shortcut") << Desktop::Gnome << false;
    QTest::newRow("GNOME, locked after Allow") << Desktop::Gnome << true;
    QTest::newRow("KWin, plain, which proves the shortcut") << Desktop::Kwin << false;
    QTest::newRow("KWin, locked") << Desktop::Kwin << true;
}

// Faults: the inhibitor not asked for, or let go while the lesson runs; a shortcut that reaches
// the desktop, with a box open too (a box as a window of its own, which the lock does not cover).
void TestDesktops::shortcuts()
{
    QFETCH(Desktop::Kind, kind);
    QFETCH(bool, locked);
    Desktop desktop(kind);
    install(desktop);
    QVERIFY(desktop.start());
    Lesson lesson(desktop, locked ? fullScreen : QStringList());
    if (!locked) {
        // The window up, as a child would find it.
        QTest::qWait(1500);
        QVERIFY(shortcutsFired(desktop) > 0);
        return;
    }
    if (kind == Desktop::Gnome) {
        QTRY_VERIFY_WITH_TIMEOUT(dialogOpen(desktop), 10000);
        QVERIFY(desktop.tap(enter)); // Allow, GNOME's default
    }
    QTRY_VERIFY_WITH_TIMEOUT(lesson.said().contains("tasti del desktop bloccati"), 10000);
    QCOMPARE(shortcutsFired(desktop), 0);
    // The letter D opens the warning box, Esc held for 3 s the goodbye box: each drawn in the
    // lesson's own window, which the lock covers, and Enter closes it (the goodbye, the lesson).
    for (const QString &opens : { QStringLiteral("k 32"), QStringLiteral("d 1 s 3400 u 1") }) {
        QVERIFY(desktop.keys(opens));
        QTest::qWait(300);
        if (kind == Desktop::Gnome)
            QCOMPARE(lessonWindows(desktop), 1);
        QCOMPARE(shortcutsFired(desktop), 0);
        QVERIFY(desktop.tap(enter));
    }
    QVERIFY(lesson.process().waitForFinished(5000));
}

void TestDesktops::gnomeAnswer_data()
{
    QTest::addColumn<bool>("denied");
    QTest::newRow("Deny, with Esc") << true;
    QTest::newRow("nobody answers") << false;
}

// Faults: GNOME's silence taken for a grant, or never said (to the parent too); the refusal kept
// by GNOME said only after the wait, or not at all.
void TestDesktops::gnomeAnswer()
{
    QFETCH(bool, denied);
    Desktop desktop(Desktop::Gnome);
    install(desktop);
    QVERIFY(desktop.start());
    const QString settings = desktop.folder() + u"/config/numeri/numeri.ini";
    {
        QElapsedTimer started;
        started.start();
        Lesson lesson(desktop, fullScreen);
        QTRY_VERIFY_WITH_TIMEOUT(dialogOpen(desktop), 10000);
        if (denied)
            QVERIFY(desktop.tap(escape));
        QTRY_VERIFY_WITH_TIMEOUT(lesson.said().contains(deniedLine), 15000);
        // Not before the desktop had its time to answer, counted from when it was asked.
        QVERIFY2(started.elapsed() >= 10000, qPrintable(QString::number(started.elapsed())));
        QTRY_VERIFY(contentOf(settings).contains(deniedLine));
        QVERIFY(!lesson.said().contains("bloccati"));
        if (!denied)
            return;
    }
    // GNOME kept the refusal: the next run gets no question and no lock, and says so at once.
    Lesson again(desktop, fullScreen);
    QTRY_VERIFY_WITH_TIMEOUT(again.said().contains(deniedLine), 4000);
    QVERIFY(!dialogOpen(desktop));
}

QTEST_GUILESS_MAIN(TestDesktops)
#include "tst_desktops.moc"
