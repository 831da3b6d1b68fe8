// The parent's window with files from a phone, measured in-process: a 60 s voice message (Opus,
// AAC) from choosing it to its waveform shown, a 10-minute one, and a 12-megapixel HEIC and a
// 48-megapixel AVIF photo from choosing it to saved; the decoding process's peak memory for each.
// The files are made first with Debian's tools.
#include "family/cutpanel.h"
#include "family/decoding.h"
#include "family/familyimport.h"
#include "family/familywindow.h"
#include "lesson/sound.h"
#include "shell/application.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>

namespace {
bool make(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    return tool.waitForFinished(600000) && tool.exitCode() == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// The decoding process's largest resident memory while it reads FILE, a sound, or a picture where
// PICTURE; through peakrss, so that this process's own size is not counted in.
double decoderPeakMiB(const QString &file, bool picture = false)
{
    QProcess decoder;
    decoder.setStandardOutputFile(QProcess::nullDevice());
    QStringList args { QStringLiteral(NUMERI_BUILD_DIR "/numeri-decode") };
    if (picture)
        args << QStringLiteral("--picture") << QStringLiteral("920") << QStringLiteral("1040");
    decoder.start(QStringLiteral(NUMERI_BUILD_DIR "/bench/peakrss"), args << file);
    if (!decoder.waitForFinished(600000) || decoder.exitCode() != 0)
        return -1;
    const QByteArray last = decoder.readAllStandardError().trimmed().split('\n').constLast();
    return last.startsWith("peak_kib=") ? last.mid(9).toDouble() / 1024 : -1;
}
} // namespace

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("NUMERI_DECODER", NUMERI_BUILD_DIR "/numeri-decode");
    const auto here = [&dir](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    // Speech all through: the ten installed words over and over, with pauses between.
    QStringList words;
    for (int i = 0; i < 60; ++i)
        words << QStringLiteral(NUMERI_BUILD_DIR "/IMG/%1.wav").arg(i % 10)
              << QStringLiteral(NUMERI_BUILD_DIR "/IMG/%1.wav").arg((i + 3) % 10);
    const QStringList rate = { QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
        QStringLiteral("2") };
    bool made = make(QStringLiteral("sox"),
        words + rate
            + QStringList { here("long.wav"), QStringLiteral("trim"), QStringLiteral("0"),
                QStringLiteral("60") });
    made = made
        && make(QStringLiteral("sox"),
            { here("long.wav"), here("ten.wav"), QStringLiteral("repeat"), QStringLiteral("9") });
    for (const char *out : { "long.opus", "long.m4a", "ten.opus" })
        made = made
            && make(QStringLiteral("ffmpeg"),
                { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                    QStringLiteral("-i"),
                    here(QByteArray(out).startsWith("ten") ? "ten.wav" : "long.wav"), here(out) });
    QImage photo(4000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 255 / 4000, y * 255 / 3000, (x ^ y) & 255));
    made = made && photo.save(here("photo.png"))
        && make(QStringLiteral("heif-enc"),
            { QStringLiteral("-q"), QStringLiteral("50"), here("photo.png"), QStringLiteral("-o"),
                here("photo.heic") });
    // A 48-megapixel AVIF, as the largest phones' cameras take, from a flat Y4M: its memory, not
    // its content, is measured.
    QFile y4m(here("big.y4m"));
    made = made && y4m.open(QIODevice::WriteOnly)
        && y4m.write("YUV4MPEG2 W6000 H8000 F25:1 Ip A1:1 C420jpeg\nFRAME\n") > 0
        && y4m.write(QByteArray(6000 * 8000 * 3 / 2, char(100))) > 0;
    y4m.close();
    made = made
        && make(QStringLiteral("heif-enc"),
            { QStringLiteral("-q"), QStringLiteral("30"), QStringLiteral("-p"),
                QStringLiteral("speed=9"), here("big.y4m"), QStringLiteral("-o"),
                here("big.avif") });
    if (!made) {
        std::fprintf(stderr, "import: the sample files could not be made\n");
        return 1;
    }

    lesson::SdlSound sound;
    family::FamilyWindow window(sound, QStringLiteral(NUMERI_BUILD_DIR));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto *panel = window.findChild<family::CutPanel *>();
    auto *status = window.findChild<QLabel *>(QStringLiteral("status"));
    const auto soundShown = [&](const char *file) {
        std::vector<double> ms;
        for (int i = 0; i < 5; ++i) {
            panel->hide();
            QElapsedTimer t;
            t.start();
            window.import().useSound(3, here(file));
            while (!panel->isVisible() && t.elapsed() < 20000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            QCoreApplication::processEvents(); // its waveform painted
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        return median(ms);
    };
    const double opus = soundShown("long.opus");
    const double aac = soundShown("long.m4a");
    const double tenMinutes = soundShown("ten.opus");
    const double opusPeak = decoderPeakMiB(here("long.opus"));
    const double aacPeak = decoderPeakMiB(here("long.m4a"));
    const double decoderPeak = decoderPeakMiB(here("ten.opus"));
    const auto photoSaved = [&](const char *file) {
        std::vector<double> ms;
        for (int i = 0; i < 3; ++i) {
            status->clear();
            QElapsedTimer t;
            t.start();
            window.import().usePhoto(5, here(file));
            while (!status->text().startsWith(u"Fatto") && !status->text().startsWith(u"Non ")
                && t.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            ms.push_back(status->text().startsWith(u"Fatto") ? double(t.nsecsElapsed()) / 1e6 : -1);
        }
        return median(ms);
    };
    window.import().pictures().setTimeLimit(std::chrono::seconds(30));
    const double heic = photoSaved("photo.heic");
    const double avif = photoSaved("big.avif");
    const double heicPeak = decoderPeakMiB(here("photo.heic"), true);
    const double avifPeak = decoderPeakMiB(here("big.avif"), true);
    std::printf("import_opus_60s_ms=%.1f\nimport_aac_60s_ms=%.1f\nimport_opus_10min_ms=%.1f\n"
                "import_decoder_10min_peak_mib=%.1f\nimport_heic_12mp_ms=%.1f\n"
                "import_avif_48mp_ms=%.1f\nimport_decoder_heic_12mp_peak_mib=%.1f\n"
                "import_decoder_avif_48mp_peak_mib=%.1f\nimport_decoder_opus_60s_peak_mib=%.1f\n"
                "import_decoder_aac_60s_peak_mib=%.1f\n",
        opus, aac, tenMinutes, decoderPeak, heic, avif, heicPeak, avifPeak, opusPeak, aacPeak);
    std::fflush(stdout);
    std::_Exit(0);
}
