// Recordings as a parent may leave them: broken, odd, or not recordings at all. Each one is
// silence or sound, never a hang or a crash, and the next good recording plays.
#include "lesson/sound.h"
#include "testkit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QtEndian>
#include <SDL.h>
#include <cmath>
#include <unistd.h>

namespace {
// A WAV file of one second of a tone; `declared` replaces the data chunk's stated length.
QByteArray wav(int formatTag, int bits, int channels, int rate, qint64 declared = -1)
{
    const int frames = rate;
    QByteArray data;
    for (int i = 0; i < frames; ++i) {
        const double v = 0.5 * std::sin(2 * M_PI * 440 * i / rate);
        for (int c = 0; c < channels; ++c) {
            if (formatTag == 3) {
                const float f = float(v);
                data.append(reinterpret_cast<const char *>(&f), 4);
            } else if (bits == 8) {
                data.append(char(quint8(128 + v * 127)));
            } else {
                const qint32 s = qint32(v * ((1 << (bits - 1)) - 1));
                for (int b = 0; b < bits / 8; ++b)
                    data.append(char((s >> (8 * b)) & 0xff));
            }
        }
    }
    const auto u32 = [](quint32 v) {
        QByteArray b(4, 0);
        qToLittleEndian(v, b.data());
        return b;
    };
    const auto u16 = [](quint16 v) {
        QByteArray b(2, 0);
        qToLittleEndian(v, b.data());
        return b;
    };
    const int blockAlign = channels * bits / 8;
    QByteArray out = "RIFF" + u32(quint32(36 + data.size())) + "WAVEfmt " + u32(16)
        + u16(quint16(formatTag)) + u16(quint16(channels)) + u32(quint32(rate))
        + u32(quint32(rate * blockAlign)) + u16(quint16(blockAlign)) + u16(quint16(bits)) + "data"
        + u32(declared < 0 ? quint32(data.size()) : quint32(declared));
    return out + data;
}
} // namespace

class TestSound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void badRecording_data();
    void badRecording();
    void replaying();

private:
    QTemporaryDir m_dir;
    SDL_AudioSpec m_device {};
};

void TestSound::initTestCase()
{
    // The device format the program asks for.
    m_device.freq = 22050;
    m_device.format = AUDIO_S16SYS;
    m_device.channels = 1;
}

void TestSound::badRecording_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("seconds"); // 0 for silence

    const QByteArray good = wav(1, 16, 1, 22050);
    QTest::newRow("empty") << QByteArray() << QStringLiteral("file") << 0.0;
    QTest::newRow("10 bytes of text") << QByteArray("ciao ciao\n") << QStringLiteral("file") << 0.0;
    QTest::newRow("header only") << good.left(44) << QStringLiteral("file") << 0.0;
    QTest::newRow("40 bytes") << good.left(40) << QStringLiteral("file") << 0.0;
    QTest::newRow("data shorter than said")
        << good.left(44 + 22050) << QStringLiteral("file") << 0.5;
    QTest::newRow("4 GiB of data declared")
        << wav(1, 16, 1, 22050, 0xffffffffLL) << QStringLiteral("file") << 1.0;
    QTest::newRow("Ogg named .wav")
        << QByteArray("OggS\0\x02\0\0\0\0\0\0\0\0", 14) + QByteArray(400, 'x')
        << QStringLiteral("file") << 0.0;
    QTest::newRow("8-bit") << wav(1, 8, 1, 22050) << QStringLiteral("file") << 1.0;
    QTest::newRow("24-bit") << wav(1, 24, 1, 22050) << QStringLiteral("file") << 1.0;
    QTest::newRow("float") << wav(3, 32, 1, 22050) << QStringLiteral("file") << 1.0;
    QTest::newRow("8 kHz") << wav(1, 16, 1, 8000) << QStringLiteral("file") << 1.0;
    QTest::newRow("48 kHz") << wav(1, 16, 1, 48000) << QStringLiteral("file") << 1.0;
    QTest::newRow("stereo") << wav(1, 16, 2, 44100) << QStringLiteral("file") << 1.0;
    QTest::newRow("a folder") << QByteArray() << QStringLiteral("folder") << 0.0;
    QTest::newRow("symlink loop") << QByteArray() << QStringLiteral("loop") << 0.0;
    QTest::newRow("FIFO") << QByteArray() << QStringLiteral("fifo") << 0.0;
    QTest::newRow("no read permission") << good << QStringLiteral("unreadable") << 0.0;
    QTest::newRow("missing") << QByteArray() << QStringLiteral("missing") << 0.0;
}

void TestSound::badRecording()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, kind);
    QFETCH(double, seconds);

    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + u"/3.wav";
    const bool unreadable = kind == u"unreadable";
    QVERIFY(testkit::placeBadFile(file, unreadable ? QStringLiteral("file") : kind, content));
    if (unreadable)
        QVERIFY(QFile(file).setPermissions({}));
    // Root reads every file whatever its permissions: the unreadable one is read as nobody.
    const bool asNobody = unreadable && geteuid() == 0;
    if (asNobody)
        QCOMPARE(seteuid(65534), 0);
    const std::vector<Uint8> pcm = lesson::decodeWav(file, m_device);
    if (asNobody)
        QCOMPARE(seteuid(0), 0);
    const double got = double(pcm.size()) / 2 / m_device.freq;
    // Resampled recordings may keep some of the silence put behind them, never lose their end.
    QVERIFY2(got >= seconds - 0.002 && got <= seconds + (seconds > 0 ? 0.1 : 0),
        qPrintable(QString::number(got)));

    // Through the player too, with the next good recording after it.
    lesson::SdlSound sound;
    sound.suona(file);
    sound.suona(testkit::builtMedia() + u"/7.wav");
}

void TestSound::replaying()
{
    // The player outlives calls in any order, also before and after its device is open.
    lesson::SdlSound sound;
    for (int i = 0; i < 50; ++i)
        sound.suona(testkit::builtMedia() + QStringLiteral("/%1.wav").arg(i % 10));
    QVERIFY(sound.hasDevice());
}

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
