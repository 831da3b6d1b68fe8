// The player, heard through SDL's disk driver: what a real device would have played lands in a
// file, sample for sample (SDL 3 resamples it, which testkit sees through). Recordings as a parent
// may leave them: odd, broken, or not recordings at all. And the twenty files the child meets, as
// tools/make-assets makes them.
#include "diskaudio.h"
#include "lesson/media.h"
#include "lesson/sound.h"
#include "testkit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
// A WAV file of one second of a tone, in the format sox's OPTIONS name.
QByteArray tone(const char *options)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tone.wav"));
    QProcess::execute(QStringLiteral("sox"),
        QStringLiteral("-V1 -n %1 %2 synth 1 sine 440 vol 0.5")
            .arg(QLatin1String(options), file)
            .split(u' '));
    return testkit::contentOf(file);
}

using namespace std::chrono_literals;
using testkit::pcm;
using testkit::timesHeard;
} // namespace

class TestSound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void recording_data();
    void recording();
    void playing_data();
    void playing();
    void stalledDeviceIsReplaced();
    void shipped_data();
    void shipped();

private:
    QByteArray played() const;
    QTemporaryDir m_dir;
};

// Faults: a resampled recording loses its end; a FIFO named like a recording holds the player for
// good; a huge or broken file is read whole or played as noise.
void TestSound::recording_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("seconds"); // 0 for silence
    const QByteArray plain = tone("-r 22050 -c 1 -b 16");
    QTest::newRow("8 kHz") << tone("-r 8000 -c 1 -b 16") << 1.0;
    QTest::newRow("48 kHz") << tone("-r 48000 -c 1 -b 16") << 1.0;
    QTest::newRow("44.1 kHz stereo") << tone("-r 44100 -c 2 -b 16") << 1.0;
    QTest::newRow("8-bit") << tone("-r 22050 -c 1 -b 8") << 1.0;
    // The data chunk's size, in a header of 44 bytes.
    QTest::newRow("4 GiB declared") << QByteArray(plain).replace(40, 4, "\xff\xff\xff\xff") << 1.0;
    QTest::newRow("cut in its header") << plain.left(40) << 0.0;
    QTest::newRow("not a recording") << QByteArray("OggS\0\x02 ciao ciao", 16) << 0.0;
    QTest::newRow("17 MiB") << plain + QByteArray(17 << 20, 0) << 0.0;
    QTest::newRow("FIFO") << QByteArray("fifo") << 0.0;
}

void TestSound::recording()
{
    QFETCH(QByteArray, content);
    QFETCH(double, seconds);
    const QString file = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".wav");
    if (content == "fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else {
        QVERIFY(testkit::write(file, content));
    }
    const double got = double(lesson::decodeWav(file).size()) / 2 / lesson::playRate;
    // Resampling may keep some of the silence put behind a word, never lose its end.
    QVERIFY2(got >= seconds - 0.002 && got <= seconds + (seconds > 0 ? 0.1 : 0),
        qPrintable(QString::number(got)));
}

// Fault: a case judged by what the one before it played. Each device opened truncates the file
// only once it opens, and until then the last case's word still stands in it.
void TestSound::init()
{
    testkit::diskFormat(false); // asked before the player's own SDL starts
    QFile::remove(m_dir.filePath(QStringLiteral("device.raw")));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(QStringLiteral("device.raw"))));
}

QByteArray TestSound::played() const
{
    const QByteArray out = testkit::contentOf(m_dir.filePath(QStringLiteral("device.raw")));
    return out == "missing" ? QByteArray() : out;
}

// Faults: a new word does not cut the old one short; an unplayable recording lets the old one
// play on (a missing one is the same to the player); a broken word of the family's silent, not the
// installed one, or passed over without a line that names it; a word does not play whole. (That
// the family's own is preferred, tst_endtoend hears.)
void TestSound::playing_data()
{
    QTest::addColumn<QByteArray>("family"); // what stands as the family's 7.wav; empty for none
    QTest::addColumn<QString>("next"); // asked for while 7 plays; empty for nothing
    QTest::addColumn<bool>("nextHeard");
    const QString media = testkit::builtMedia();
    QTest::newRow("then 4") << QByteArray() << media + u"/4.wav" << true;
    QTest::newRow("then a broken one") << QByteArray() << media + u"/4.jpg" << false;
    QTest::newRow("the family's broken")
        << QByteArray("RIFF\x10\0\0\0WAVEjunk", 16) << QString() << false;
    QTest::newRow("the family's a folder") << QByteArray("folder") << QString() << false;
}

void TestSound::playing()
{
    QFETCH(QByteArray, family);
    QFETCH(QString, next);
    QFETCH(bool, nextHeard);
    const QString installed = testkit::builtMedia() + u"/7.wav";
    QString word = installed;
    if (!family.isEmpty()) {
        word = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())) + u"/7.wav";
        QVERIFY(family == "folder" ? QDir().mkpath(word) : testkit::write(word, family));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                u"^numeri: registrazione non usata, " + QRegularExpression::escape(word) + u": "));
    }
    const std::vector<qint16> seven = pcm(installed);
    lesson::SdlSound sound;
    sound.suona(word, installed);
    if (!next.isEmpty()) {
        QTest::qWait(150);
        sound.suona(next);
    }
    // Until 7 would have ended, and a little more.
    QTRY_VERIFY_WITH_TIMEOUT(played().size() / 2 / testkit::diskFormat(false).step()
            > qsizetype(seven.size()) + lesson::playRate * 3 / 10,
        5000);
    const QByteArray out = played();
    QVERIFY(timesHeard(out, { seven.begin(), seven.begin() + 2205 }));
    QCOMPARE(timesHeard(out, seven) > 0, next.isEmpty());
    QCOMPARE(timesHeard(out, pcm(next)) > 0, nextHeard);
}

// Faults: a device that takes sound and then stops draining (a dead PipeWire stream that still
// reports itself playing) is never replaced; the word that met it is not played again on the new
// one.
void TestSound::stalledDeviceIsReplaced()
{
    // SDL's disk driver writes into a FIFO that is read only when the test says: the device takes a
    // moment of sound, then its writes block.
    const QString fifo = m_dir.filePath(QStringLiteral("stalled.fifo"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN); // the device writing on after the reader has gone
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(fifo));
    const QString media = testkit::builtMedia();
    const std::vector<qint16> seven = pcm(media + u"/7.wav");
    lesson::SdlSound sound;
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });
    // A page holds 93 ms of the play format; as long in the format SDL writes.
    const testkit::DiskFormat format = testkit::diskFormat(false);
    QVERIFY(reader >= 0
        && fcntl(reader, F_SETPIPE_SZ, 4096 * format.channels * format.rate / lesson::playRate)
            >= 0);
    const auto drain = [reader](int ms) {
        QByteArray out(4096, 0), all;
        QElapsedTimer clock;
        // Faster than any device writes: the page is full for a few milliseconds at most.
        for (clock.start(); clock.elapsed() < ms; std::this_thread::sleep_for(5ms))
            all += out.left(std::max<ssize_t>(::read(reader, out.data(), size_t(out.size())), 0));
        return all;
    };
    sound.suona(media + u"/7.wav");
    // Past the stall's limit, and still within the second in which the word is wanted.
    QTest::qWait(750);
    const QByteArray heard = drain(1500);
    // Its first 20 ms: cut by the stall, then whole.
    QCOMPARE(timesHeard(heard, { seven.begin(), seven.begin() + 441 }), 2);
    QVERIFY(timesHeard(heard, seven));
    sound.suona(media + u"/4.wav");
    QVERIFY(timesHeard(drain(1200), pcm(media + u"/4.wav")));
}

void TestSound::shipped_data()
{
    QTest::addColumn<int>("d");
    for (int d = 0; d <= 9; ++d)
        QTest::addRow("%d", d) << d;
}

// Faults: a word remade empty, cut or too quiet; a picture remade that the lesson cannot show, or
// shows at another size.
void TestSound::shipped()
{
    QFETCH(int, d);
    const QString base = testkit::builtMedia() + u'/' + QString::number(d);
    const std::vector<qint16> word = pcm(base + u".wav");
    QVERIFY2(word.size() >= lesson::playRate * 0.3 && word.size() <= lesson::playRate * 1.2,
        qPrintable(QString::number(word.size())));
    QVERIFY2(std::ranges::any_of(word, [](qint16 s) { return std::abs(s) > 25000; }), "too quiet");
    QString reason;
    QCOMPARE(lesson::readPicture(base + u".jpg", 1, 1, &reason).size(), QSize(460, 260));
}

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
