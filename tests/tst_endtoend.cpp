// The installed program on a real X server (xvfb-run, no window manager) with real key presses,
// heard through a real PulseAudio daemon that the tests stop, kill and bring back.
#include "diskaudio.h"
#include "soundserver.h"
#include "testkit.h"

#include <QDir>
#include <QScopeGuard>
#include <optional>

using namespace testkit;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void lesson();
    void hungServer();
    void killedServerComesBack();
    void familyVoice();
    void escapeEndsWithZero();
    void hungAtStart();
    void missingAtStartThenSigterm();

private:
    void start();
    // Presses keys with xdotool, as a keyboard would (names as xdotool knows them).
    void keys(const QString &keys) const { run(words("xdotool key") + keys.split(u' ')); }
    // A key that opens the warning box proves the window answers; Return closes the box.
    bool answersWithBox(const QString &key);
    // Presses DIGIT; whether its word is heard whole, as long as the installed file sounds.
    bool heardWhole(const QString &digit);
    // The menu entry installed with the program.
    QString menuEntry() const
    {
        return QString::fromUtf8(contentOf(
            QFileInfo(m_executable).path() + u"/../share/applications/org.numeri.numeri.desktop"));
    }

    QTemporaryDir m_prefix;
    QString m_executable;
    SoundServer m_sound;
    std::optional<Numeri> m_program;
};

void TestEndToEnd::initTestCase()
{
#ifdef NUMERI_INSTALLED_PROGRAM // the package's own test: the program as the package installed it
    m_executable = QStringLiteral(NUMERI_INSTALLED_PROGRAM);
#else
    // Installed as a parent would, under a folder whose name is not plain ASCII, and started
    // through the link on the PATH.
    const QString prefix = m_prefix.filePath(QStringLiteral("prefisso con spazi é ж 数字"));
    run({ QStringLiteral(NUMERI_CMAKE), QStringLiteral("--install"),
        QStringLiteral(NUMERI_BUILD_DIR), QStringLiteral("--prefix"), prefix });
    m_executable = prefix + u"/bin/numeri";
#endif
    QVERIFY(QFileInfo(m_executable).isSymLink());
    // Started away from the build, whose IMG it would otherwise find by chance.
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
    // The pointer off the window: without a window manager only the program gives itself the keys.
    run(words("xdotool mousemove 799 699"));
    QVERIFY(m_sound.start());
    start();
}

void TestEndToEnd::cleanup()
{
    if (QTest::currentTestFailed())
        qWarning("numeri said: %s", m_program->said().constData());
}

void TestEndToEnd::start()
{
    m_program.emplace(m_sound.env(), QStringList(), QStringList(), m_executable);
    QVERIFY(windowShows(QStringLiteral("^Ti insegno i numeri fino a 9$")));
}

bool TestEndToEnd::answersWithBox(const QString &key)
{
    keys(key);
    if (!windowShows(QStringLiteral("^Fai attenzione, non hai premuto un numero$")))
        return false;
    keys(QStringLiteral("Return"));
    return true;
}

bool TestEndToEnd::heardWhole(const QString &digit)
{
    // Measured before the key: what plays meanwhile would not be heard.
    const auto own = SoundServer::span(
        raw(pcm(QFileInfo(m_executable).canonicalPath() + u"/IMG/" + digit + u".wav")));
    keys(digit);
    return m_sound.heard(2500) > own.last - own.first - 0.1;
}

// Faults: the keys lost at start or after a box with no window manager; IMG not found through the
// installed link; a dead key's character ignored; the window's class not the menu entry's; the
// window without its icon; every image decoder Qt has (TIFF, WebP, MNG) loaded into the lesson to
// read its PNG icons, a box's icon or a card.
void TestEndToEnd::lesson()
{
    const QString text = menuEntry();
    const QString wmClass = text.mid(text.indexOf(u"StartupWMClass=") + 15).section(u'\n', 0, 0);
    const QByteArray id = run(words("xdotool search --name ^Ti.insegno")).trimmed();
    QVERIFY(run(words("xprop WM_CLASS -id") << QString::fromLatin1(id))
                .contains(QByteArray(", \"" + wmClass.toUtf8() + '"')));
    QVERIFY(
        run(words("xprop _NET_WM_ICON -id") << QString::fromLatin1(id)).contains("Icon (32 x 32)"));

    QVERIFY(heardWhole(QStringLiteral("7")));

    run(words("setxkbmap us intl"));
    const bool composed = answersWithBox(QStringLiteral("dead_acute e"));
    run(words("setxkbmap us"));
    QVERIFY2(composed, "no warning for é");
    keys(QStringLiteral("KP_2"));
    QVERIFY(m_sound.heard(1200) > 0);
    // The cards are JPEG files: Qt's JPEG reader is the one image plugin the lesson needs.
    QStringList plugins;
    for (const QByteArray &line :
        contentOf(QStringLiteral("/proc/%1/maps").arg(m_program->processId())).split('\n'))
        if (const QString name = QString::fromLatin1(line).section(u'/', -1);
            line.contains("/imageformats/") && !plugins.contains(name))
            plugins += name;
    QVERIFY2(plugins.isEmpty() || plugins == QStringList { QStringLiteral("libqjpeg.so") },
        qPrintable(plugins.join(u' ')));
}

// Faults: a silent program keeps its stream on the server, and the card awake, for good, or is
// not heard after; a sound server that stops answering freezes the window, or is never heard
// again; a word asked for during the hang plays when the server is back, seconds later, out of
// nowhere.
void TestEndToEnd::hungServer()
{
    // A word once the silent program has let its stream go, played out, so that nothing of it is
    // left for after the hang.
    QTRY_COMPARE_WITH_TIMEOUT(m_sound.streams(), 0, 12000);
    QVERIFY(heardWhole(QStringLiteral("6")));
    {
        m_sound.signal(SIGSTOP);
        const auto resume = qScopeGuard([this] { m_sound.signal(SIGCONT); });
        QVERIFY(answersWithBox(QStringLiteral("b")));
        keys(QStringLiteral("3"));
        QTest::qWait(1000); // long enough for the player to find its device stalled
        keys(QStringLiteral("4"));
        QVERIFY(answersWithBox(QStringLiteral("c")));
        QTest::qWait(1200); // so that 4 is no longer wanted when the server answers
    }
    // At most a scrap of 3 that was on its way to the server when it stopped.
    QVERIFY(m_sound.heard(1500, SoundServer::Throughout) < 0.2);
    QVERIFY(heardWhole(QStringLiteral("5")));
}

// Fault: a server killed and started again is never heard again. A word plays first: SDL 3 keeps
// a device that played as a stand-in that seems to play on, where one never used is simply gone.
void TestEndToEnd::killedServerComesBack()
{
    QVERIFY(heardWhole(QStringLiteral("9")));
    m_sound.kill();
    keys(QStringLiteral("2"));
    QVERIFY(answersWithBox(QStringLiteral("d")));
    QVERIFY(m_sound.start());
    keys(QStringLiteral("8"));
    QVERIFY(m_sound.heard(1500) > 0);
}

// Faults: the menu entry's second action missing or not starting the parent's window; holding a
// digit there keeps nothing, or keeps it where the lesson does not look; the lesson of a new start
// not playing the family's word; Esc not ending the parent's window with 0.
void TestEndToEnd::familyVoice()
{
    const QString text = menuEntry();
    // An entry without the action gives a line here that starts no parent's window.
    const qsizetype action = text.indexOf(u"[Desktop Action registra]");
    QStringList exec
        = text.mid(text.indexOf(u"\nExec=", action) + 6).section(u'\n', 0, 0).split(u' ');
    QCOMPARE(exec.takeFirst(), QStringLiteral("numeri"));
    // The lesson's stream gone first: on SDL 3 a take during which it closed came out silent.
    QTRY_COMPARE_WITH_TIMEOUT(m_sound.streams(), 0, 5000);
    Numeri parent(m_sound.env(), exec, {}, m_executable);
    // The lesson has lost the keyboard to the parent's window: it starts afresh whatever happens.
    auto restart = qScopeGuard([this] { start(); });
    QVERIFY(windowShows(QStringLiteral("^Registra la tua voce$")));

    // A long, steady word, so that the lesson's 4 is told from its own by its length.
    std::vector<qint16> word(size_t(22050 * 1.2));
    for (size_t i = 0; i < word.size(); ++i)
        word[i] = qint16(9000 * std::sin(double(i) * 0.12));
    const QString spoken = m_prefix.filePath(QStringLiteral("spoken.raw"));
    QVERIFY(write(spoken, raw(word)));
    run(words("xdotool keydown 4"));
    // The word once the microphone records: its stream is on the server beside the test's own
    // two, the recorder of what plays and the microphone's own link to it.
    QTRY_VERIFY_WITH_TIMEOUT(
        run(words("pactl list short source-outputs"), m_sound.env()).count('\n') >= 3, 5000);
    run(words("pacat --raw --format=s16le --channels=1 --rate=22050 -d ear") << spoken,
        m_sound.env());
    QTest::qWait(300);
    // Played back at once, as the child will hear it: on SDL 3 before xdotool has returned.
    m_sound.forget();
    run(words("xdotool keyup 4"));
    QVERIFY(m_sound.heard(2500) > 1.1);
    keys(QStringLiteral("Escape"));
    QVERIFY(parent.endsWell(false));

    restart.dismiss();
    start();
    keys(QStringLiteral("4"));
    QVERIFY(m_sound.heard(2500) > 1.1);
}

// Faults: Esc without the goodbye box, or a status other than 0 after it (a sanitizer's report
// among them).
void TestEndToEnd::escapeEndsWithZero()
{
    keys(QStringLiteral("Escape"));
    QVERIFY(windowShows(QStringLiteral("^A presto da Zorvalde e Trucchelo$")));
    keys(QStringLiteral("Return"));
    QVERIFY(m_program->endsWell(false));
}

// Fault: a server hung before the program starts freezes its window, or keeps it from ending.
void TestEndToEnd::hungAtStart()
{
    m_sound.signal(SIGSTOP);
    const auto resume = qScopeGuard([this] { m_sound.signal(SIGCONT); });
    start();
    keys(QStringLiteral("2"));
    QVERIFY(answersWithBox(QStringLiteral("e")));
    escapeEndsWithZero();
}

// Faults: a server missing at start is never found once it comes; SIGTERM does not end the
// program, or kills it rather than ending it with 0.
void TestEndToEnd::missingAtStartThenSigterm()
{
    m_sound.kill();
    start();
    keys(QStringLiteral("9"));
    QVERIFY(answersWithBox(QStringLiteral("f")));
    QVERIFY(m_sound.start());
    keys(QStringLiteral("0"));
    QVERIFY(m_sound.heard(1500) > 0);
    QVERIFY(m_program->endsWell());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
