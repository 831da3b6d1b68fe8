// The locked full screen on the desktops families use, GNOME Shell, KDE's KWin and sway, each
// started afresh for each case and driven from outside as a keyboard would: whether the desktop's
// own shortcut still reaches it, and whether GNOME's refusal is told.
#include "desktops/desktop.h"
#include "soundserver.h"
#include "testkit.h"

#include <QDeadlineTimer>
#include <QTest>

using namespace testkit;

namespace {
// Linux key codes.
const int escape = 1, enter = 28;
const QByteArray deniedLine = "il desktop non ha concesso i suoi tasti";

// The shortcut pressed three times, as a child tries again: how many times it fired.
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
} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

public:
    // What the parent does with GNOME's question; KWin asks none.
    enum Answer { NotLocked, Allow, Deny, Silence };
    Q_ENUM(Answer)

private Q_SLOTS:
    void lock_data();
    void lock();
};

void TestDesktops::lock_data()
{
    QTest::addColumn<Desktop::Kind>("kind");
    QTest::addColumn<Answer>("answer");
    QTest::newRow("GNOME, plain, which proves the shortcut") << Desktop::Gnome << NotLocked;
    QTest::newRow("GNOME, locked after Allow") << Desktop::Gnome << Allow;
    QTest::newRow("GNOME, Deny with Esc, then kept") << Desktop::Gnome << Deny;
    QTest::newRow("GNOME, nobody answers") << Desktop::Gnome << Silence;
    QTest::newRow("KWin, plain, which proves the shortcut") << Desktop::Kwin << NotLocked;
    QTest::newRow("KWin, locked") << Desktop::Kwin << Allow;
    QTest::newRow("sway, plain, which proves the shortcut") << Desktop::Sway << NotLocked;
    QTest::newRow("sway, locked") << Desktop::Sway << Allow;
}

// Faults: the inhibitor not asked for, or let go while the lesson runs; a shortcut that reaches
// the desktop, with a box open too (a box as a window of its own, which the lock does not cover).
// GNOME's silence taken for a grant, or never said (to the parent too); the refusal kept by GNOME
// said only after the wait, or not at all.
void TestDesktops::lock()
{
    QFETCH(Desktop::Kind, kind);
    QFETCH(Answer, answer);
    Desktop desktop(kind);
    QVERIFY(desktop.start());
    const QStringList fullScreen { QStringLiteral("--schermo-intero") };
    // The desktop's time to answer, counted from when it was asked (a timer of ten seconds, which
    // Qt may fire up to 5 % early).
    const QDeadlineTimer answerTime(9500);
    Numeri lesson(desktop.env(), answer == NotLocked ? QStringList() : fullScreen, desktop.as());
    if (answer == NotLocked) {
        // The window up, as a child would find it.
        QTest::qWait(1500);
        QVERIFY(shortcutsFired(desktop) > 0);
        return;
    }
    // GNOME's question: a modal dialog of the shell's, open (state 0).
    if (kind == Desktop::Gnome)
        QTRY_COMPARE_WITH_TIMEOUT(
            desktop.eval(QStringLiteral("Main.layoutManager.modalDialogGroup.get_children()"
                                        ".filter(d => d.constructor.name == 'ModalDialog' "
                                        "&& d.visible && d.state == 0).length")),
            QStringLiteral("1"), 10000);
    if (answer != Silence && kind == Desktop::Gnome)
        QVERIFY(desktop.tap(answer == Allow ? enter : escape)); // Allow is GNOME's default
    if (answer != Allow) {
        QTRY_VERIFY_WITH_TIMEOUT(lesson.said().contains(deniedLine), 15000);
        // Not before the desktop had its time to answer.
        QVERIFY2(answerTime.hasExpired(), qPrintable(QString::number(answerTime.remainingTime())));
        QTRY_VERIFY(
            contentOf(desktop.folder() + u"/config/numeri/numeri.ini").contains(deniedLine));
        QVERIFY(!lesson.said().contains("bloccati"));
        if (answer == Silence)
            return;
        // GNOME kept the refusal: the next run gets no question and no lock, and says so at once.
        QVERIFY(lesson.endsWell());
        Numeri again(desktop.env(), fullScreen, desktop.as());
        QTRY_VERIFY_WITH_TIMEOUT(again.said().contains(deniedLine), 4000);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(lesson.said().contains("tasti del desktop bloccati"), 10000);
    // Full screen where GNOME chose, asked with no output named.
    if (kind == Desktop::Gnome)
        QCOMPARE(desktop.eval(QStringLiteral("global.get_window_actors().filter(a => a.meta_window"
                                             ".get_wm_class() == 'org.numeri.numeri' && "
                                             "a.meta_window.is_fullscreen()).length")),
            u"1");
    QCOMPARE(shortcutsFired(desktop), 0);
    // The letter D opens the warning box, Esc held for 3 s the goodbye box: each drawn in the
    // lesson's own window, which the lock covers, and Enter closes it (the goodbye, the lesson).
    for (const QString &opens : { QStringLiteral("d 32 u 32"), QStringLiteral("d 1 s 3400 u 1") }) {
        QVERIFY(desktop.keys(opens));
        QTest::qWait(300);
        QCOMPARE(shortcutsFired(desktop), 0);
        QVERIFY(desktop.tap(enter));
    }
    // Enter may have ended it already, while the key was let go.
    QVERIFY(lesson.endsWell(false));
}

QTEST_GUILESS_MAIN(TestDesktops)
#include "tst_desktops.moc"
