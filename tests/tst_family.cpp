// The parent's window, in-process: SDL's disk driver is the microphone (it reads a file made here:
// a known word, quiet, between silences) and the loudspeaker (it writes what plays). Keys are held
// as a parent holds them; the file dialogs are closed as by a parent who chose nothing; the choice
// of the locked full screen is kept in settings of the case's own. (Photos: tst_fromphones.)
#include "diskaudio.h"
#include "family/recorder.h"
#include "familyfixture.h"
#include "lock/settings.h"
#include "shell/application.h"
#include "testkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>
#include <cmath>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace testkit;

class TestFamily : public FamilyFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void recording_data();
    void recording();
    void tabOrder();
    void parentsChoice_data();
    void parentsChoice();

private:
    family::Recorder *recorder() const { return m_window->findChild<family::Recorder *>(); }
    // Holds DIGIT as a parent does, by its key or its button (HAND "key", "mouse"), or loses the
    // keyboard to OTHER then ("focus"), or never lets go ("never"); waits for the answer. Held for
    // MS, and until the microphone has read all but the last half second of its file: SDL's disk
    // driver reads it by sleeping a buffer's time between reads, which falls behind the clock on a
    // busy machine, where a word held for a fixed time would come out cut.
    void hold(int digit, int ms, const QString &hand, QWidget *other);

    const QString m_mic = here(QStringLiteral("mic.raw"));
    QString m_held; // what the window said just before the take ended
};

void TestFamily::hold(int digit, int ms, const QString &hand, QWidget *other)
{
    const auto key = [digit](QTest::KeyAction action, QWidget *to) {
        QTest::sendKeyEvent(action, to, Qt::Key(Qt::Key_0 + digit), QString::number(digit), {});
    };
    if (hand == u"mouse" || hand == u"never")
        QTest::mousePress(button("digit", digit), Qt::LeftButton);
    else
        key(QTest::Press, m_window.get());
    QTest::mouseClick(button("programVoice", digit), Qt::LeftButton); // ignored during a take
    QTest::qWait(ms / 2);
    // A repeat of the held key, as X11 now and then passes one on: not flagged as one.
    key(QTest::Release, m_window.get());
    key(QTest::Press, m_window.get());
    QTest::qWait(ms - ms / 2);
    // How far into its file the microphone has read: past its end once it has let it go.
    const auto read = [this] {
        for (const QFileInfo &fd :
            QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget() == m_mic)
                return qint64(::lseek(fd.fileName().toInt(), 0, SEEK_CUR));
        return std::numeric_limits<qint64>::max();
    };
    const DiskFormat format = diskFormat(true);
    // Half a second is as many bytes as the rate has samples a second in each channel.
    QTRY_VERIFY_WITH_TIMEOUT(
        read() >= QFileInfo(m_mic).size() - format.rate * format.channels, 20000);
    m_held = status();
    if (hand == u"never") // the longest hold, which starts again, ends the take now
        recorder()->setLongestHold(std::chrono::milliseconds(1));
    if (hand == u"key")
        key(QTest::Release, m_window.get());
    else if (hand == u"mouse")
        QTest::mouseRelease(button("digit", digit), Qt::LeftButton);
    else if (hand == u"focus") { // the release goes to the window that took the keyboard
        other->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(other));
        key(QTest::Release, other);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!status().endsWith(u'…') && !status().startsWith(u"Registro"), 5000);
    if (hand == u"never")
        QTest::mouseRelease(button("digit", digit), Qt::LeftButton);
}

// Faults: the word kept with the silence around it, at the loudness it was spoken (or levelled
// into clipping where it has a crack at full scale), without its fades, in another format, readable
// by others, or not played back, or cut where the held key repeats, with no way back to the word
// before it; a press too short, silence or a steady noise kept as a word, over the family's earlier
// one; a missing microphone or a folder that cannot be made left unsaid, or the window stuck. A
// microphone that never opens (a hung server) never answered, or answered only at the release, or
// keeping the parent told to try again from the next take; one slow to close (a server draining
// its stream) taken for one that does not answer. A take whose release went to another window, or
// never came, recording for good and keeping the next digit from recording; a click on the row
// during a take taking its place; a row not showing a file copied in while the window was behind;
// an article Italian does not use; "the key" under the mouse. (A write that the disk cuts short is
// tst_fromphones' photo rows' and tst_voicemessage's: the same change of files.)
void TestFamily::recording_data()
{
    QTest::addColumn<QByteArray>("heard"); // what the microphone hears from the start
    QTest::addColumn<int>("ms"); // how long the key is held at least
    QTest::addColumn<QString>("said"); // how the window's answer begins
    QTest::addColumn<QString>("hand"); // as hold() takes it
    QTest::addColumn<QString>("microphone"); // a file, or a FIFO that hangs, or stalls once read
    QTest::addColumn<QString>("held"); // what the window says while the take is held
    const std::vector<qint16> spoken = spokenFour();
    std::mt19937 random(20261207);
    std::normal_distribution<double> hiss(0, 60);
    std::vector<qint16> noise(size_t(lesson::playRate * 1.2)); // held 0.7 s, as hold() reads it
    for (qint16 &s : noise)
        s = qint16(hiss(random) * 20);
    std::vector<qint16> crack = spoken;
    for (size_t i = 0; i < 220; ++i) // 10 ms at full scale in the middle of the word
        crack[crack.size() / 2 + i] = qint16(32000 * std::sin(double(i) * 2 * M_PI / 22));
    const QByteArray silence(lesson::playRate * 4, 0);
    const auto row = [](const char *name, const QByteArray &heard, int ms, const char *said,
                         const char *hand = "key", const char *microphone = "file",
                         const char *held = "Registro il 4: di' «quattro», poi lascia il tasto.") {
        QTest::newRow(name) << heard << ms << QString::fromUtf8(said) << QString::fromLatin1(hand)
                            << QString::fromLatin1(microphone) << QString::fromUtf8(held);
    };
    row("a quiet word", raw(spoken), 1400, "Fatto");
    row("a word with a crack at full scale", raw(crack), 1400, "Fatto", "mouse", "file",
        "Registro il 4: di' «quattro», poi lascia il pulsante.");
    row("a steady noise", raw(noise), 700, "Non ho sentito");
    row("no microphone", "none", 800, "Non riesco ad aprire il microfono", "key", "file", "Non");
    row("no folder", raw(spoken), 700, "Non riesco a salvare la registrazione");
    row("opening hangs", {}, 600, "Il microfono non risponde", "key", "hung");
    row("opening hangs, the key still held", {}, 1600, "Il microfono non risponde", "key", "hung",
        "Il microfono non risponde");
    // Held far less than the shortest press, which a busy machine may stretch.
    row("slow to close, a short press", silence.left(2205), 50, "Troppo breve", "key", "stalled");
    row("slow to close, silence", silence.left(13230), 400, "Non ho sentito", "key", "stalled");
    row("the window loses the keyboard", raw(spoken), 1400,
        "La finestra ha perso la tastiera, così ho smesso di registrare. Fatto: ecco l'8 come",
        "focus", "file", "Registro l'8: di' «otto», poi lascia il tasto.");
    row("never let go", raw(spoken), 1400,
        "Il tasto è rimasto premuto a lungo, così ho smesso di registrare. Fatto: ecco lo 0 come",
        "never", "file", "Registro lo 0: di' «zero», poi lascia il pulsante.");
}

void TestFamily::recording()
{
    QFETCH(QByteArray, heard);
    QFETCH(int, ms);
    QFETCH(QString, said);
    QFETCH(QString, hand);
    QFETCH(QString, microphone);
    QFETCH(QString, held);
    // SDL's disk driver reads its microphone from a FIFO as from a file: opening it blocks until
    // there is a writer, and reading it until the writer writes or goes.
    heard = heard == "none" ? heard : testkit::forMicrophone(heard);
    const QByteArray mic = QFile::encodeName(m_mic);
    QFile::remove(m_mic);
    int writer = -1;
    // Gone before it lets the blocked opening or reading through, so that no later take meets it.
    const auto unblock = qScopeGuard([&] {
        if (microphone == u"hung")
            writer = ::open(mic.constData(), O_WRONLY | O_NONBLOCK);
        ::unlink(mic.constData());
        ::close(writer);
    });
    if (microphone != u"file") {
        QCOMPARE(::mkfifo(mic.constData(), 0600), 0);
        writer = microphone == u"hung" ? -1 : ::open(mic.constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(heard.isEmpty() || ::write(writer, heard.constData(), size_t(heard.size())) > 0);
    } else if (heard != "none") {
        QVERIFY(write(m_mic, heard));
    }
    // The family's word from before, which only a good new one replaces, and then "Annulla" puts
    // back. Copied in while the window was behind another: its row shows it once the window is
    // back.
    // Where the answer is a plain "Fatto", there is none, and the window makes the folder.
    const int digit = hand == u"focus" ? 8 : hand == u"never" ? 0 : 4;
    const QByteArray before = said == u"Fatto" ? "missing" : "an earlier recording";
    const QString earlier = familyFile(QString::number(digit) + u".wav");
    const bool noFolder = QTest::currentDataTag() == QByteArrayLiteral("no folder");
    QVERIFY(said == u"Fatto" || write(noFolder ? data() + u"/numeri" : earlier, before));
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(button("programVoice", digit)->isEnabled(), !noFolder && said != u"Fatto");

    hold(digit, ms, hand, &other);
    QVERIFY2(m_held.startsWith(held), qPrintable(m_held));
    // Told to try again, the parent can at once.
    QVERIFY(microphone != u"hung" || !recorder()->busy());
    // Nor is it told otherwise later, while a stalled microphone is still closing.
    QTest::qWait(microphone == u"stalled" ? 1200 : 0);
    QVERIFY2(status().startsWith(said), qPrintable(status()));
    if (!said.contains(u"Fatto")) {
        QVERIFY(noFolder || contentOf(earlier) == before);
        QCOMPARE(QDir(familyFile({})).entryList(QDir::Files | QDir::Hidden).size(), !noFolder);
    } else {
        QCOMPARE(mode(earlier), 0600);
        QVERIFY(said != u"Fatto" || mode(familyFile({})) == 0700);
        const std::vector<qint16> word = pcm(earlier);
        const double seconds = double(word.size()) / lesson::playRate;
        const double spoken = double(pcm(builtMedia() + u"/4.wav").size()) / lesson::playRate;
        QVERIFY2(seconds > spoken - 0.05 && seconds < spoken + 0.2,
            qPrintable(QString::number(seconds)));
        // As loud as the installed words, unless that would clip its peaks; faded in and out.
        const auto [low, high] = std::minmax_element(word.begin(), word.end());
        const int peak = std::max(-int(*low), int(*high));
        const double loudness = voicedLoudness(word);
        QVERIFY2(peak < 32767 * 0.95 && (peak > 32767 * 0.8 || std::abs(loudness / 8100 - 1) < 0.3),
            qPrintable(QStringLiteral("peak %1, loudness %2").arg(peak).arg(loudness)));
        QVERIFY(std::abs(word.front()) < 100 && std::abs(word.back()) < 100);
        // Played back as the child will hear it (listened to once: it takes as long as the word).
        QTRY_VERIFY_WITH_TIMEOUT(
            hand != u"key" || timesHeard(contentOf(here(QStringLiteral("speaker.raw"))), word),
            5000);
        QTest::mouseClick(button("undo", digit), Qt::LeftButton);
        QTRY_COMPARE(contentOf(earlier), before);
    }
    // The window still answers: the next digit's recording begins, once the last has closed.
    QTRY_VERIFY(!recorder()->busy());
    QTest::keyPress(m_window.get(), Qt::Key_5);
    QVERIFY2(status().startsWith(u"Registro il 5"), qPrintable(status()));
    QTest::keyRelease(m_window.get(), Qt::Key_5);
}

// Faults: Tab beginning at "Chiudi", not at the first row; a file dialog sending it back to the
// top, not to where it was; the folder it opens in given though it is not there (a home with no
// Downloads or Pictures yet), which Qt's dialog types into its name field.
void TestFamily::tabOrder()
{
    QTest::keyClick(m_window.get(), Qt::Key_Tab);
    QCOMPARE(m_window->focusWidget(), button("listen", 0));
    QString typed;
    QTimer closer; // closes a file dialog as a parent who chose nothing
    connect(&closer, &QTimer::timeout, [&typed] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            typed = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        }
    });
    closer.start(50);
    for (const char *choose : { "choosePhoto", "chooseSound" }) {
        typed = QStringLiteral("no dialog");
        QTest::mouseClick(button(choose, 3), Qt::LeftButton);
        QCOMPARE(m_window->focusWidget(), button(choose, 3));
        QCOMPARE(typed, QString());
    }
}

void TestFamily::parentsChoice_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("kept");
    QTest::newRow("no settings yet") << QByteArray() << true;
    QTest::newRow("settings Qt cannot read") << QByteArray("[lezione\n\xff\x00=") << true;
    QTest::newRow("a file where the folder goes") << QByteArray("folder") << false;
}

// The parent's choice of the locked full screen. Faults: the choice said kept where it was not, or
// left shown as made; settings readable by others; a broken file never mended.
void TestFamily::parentsChoice()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, kept);
    const QString file = lock::settingsFile();
    if (!before.isEmpty())
        QVERIFY(write(before == "folder" ? QFileInfo(file).path() : file, before));
    auto *choice = m_window->findChild<QCheckBox *>();
    QVERIFY(!choice->isChecked());
    QTest::mouseClick(choice, Qt::LeftButton, {}, QPoint(5, choice->height() / 2));
    QTRY_VERIFY(status().startsWith(kept ? u"Fatto" : u"La scelta non è stata salvata"));
    QCOMPARE(choice->isChecked(), kept);
    QCOMPARE(lock::alwaysFullScreen(), kept);
    if (kept) {
        QCOMPARE(mode(file), 0600);
        QCOMPARE(mode(QFileInfo(file).path()), 0700);
    }
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestFamily test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_family.moc"
