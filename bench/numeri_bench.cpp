// Measures, on a real X server with a real sound server, how quickly the program answers, next to
// a bare Qt window doing the least it could, and how soon it is shown on GNOME Shell and KWin;
// prints a table and one line of name=value figures.
#include "bench/desktops.h"
#include "bench/harness.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

using namespace bench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SoundServer sound;
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !sound.start()) {
        std::fprintf(stderr, "bench: no X server or sound server\n");
        return 1;
    }
    QProcessEnvironment env = sound.environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // Another build of the program may be measured in its place, against the same floor.
    const QString numeri = qEnvironmentVariable("NUMERI_BENCH_PROGRAM", buildDir + u"/numeri");
    const QString floor = buildDir + u"/bench/numeri_floor";

    QTemporaryDir familyData;
    fillFamilyFolder(familyData.path());
    QProcessEnvironment family = env;
    family.insert(QStringLiteral("XDG_DATA_HOME"), familyData.path());

    // Start-up and memory once shown, the programs taking turns: the lesson, the lesson with a
    // full family folder, and the floor.
    std::vector<double> mapN, mapF, memN, memF, mapP, memP;
    for (int i = 0; i < 7; ++i) {
        for (int which = 0; which < 3; ++which) {
            const Running r = start(which == 2 ? floor : numeri, which == 1 ? family : env);
            QThread::msleep(700);
            (which == 0 ? mapN : which == 1 ? mapP : mapF).push_back(r.mapMs);
            (which == 0 ? memN : which == 1 ? memP : memF).push_back(double(peakKiB(r.pid)) / 1024);
            stop(r);
        }
    }

    // With the family's photos and words: key to screen and peak memory after 1000 digits, and key
    // to sound.
    std::vector<double> screenP, soundsP;
    double hwm1000P = -1;
    {
        const Running r = start(numeri, family);
        QThread::msleep(1500);
        QStringList keys { QStringLiteral("keys"), r.window };
        for (int d = 0; d <= 9; ++d)
            keys << QString::number(d);
        screenP = xwatch(family, keys << QStringLiteral("30"));
        hwm1000P = peakMiBAfterThousandDigits(r.pid, family);
        soundsP = keyToSound(sound, 10);
        stop(r);
    }
    const Recording rec = recording(sound, numeri, family);

    // Key to screen, 30 digits; peak memory after 1000 digits; a digit held down.
    std::vector<double> screenN, screenF;
    double hwm1000N = -1, hwm1000F = -1, holdN = -1, holdF = -1;
    QStringList digits;
    for (int d = 0; d <= 9; ++d)
        digits << QString::number(d);
    for (bool ours : { true, false }) {
        const Running r = start(ours ? numeri : floor, env);
        QThread::msleep(1000);
        (ours ? screenN : screenF) = xwatch(env,
            QStringList { QStringLiteral("keys"), r.window } + digits
                + QStringList { QStringLiteral("30") });
        const std::vector<double> hold = xwatch(env,
            { QStringLiteral("hold"), r.window, QStringLiteral("5"), QStringLiteral("30"),
                QStringLiteral("10") });
        (ours ? holdN : holdF) = hold.empty() ? -1 : hold.front();
        (ours ? hwm1000N : hwm1000F) = peakMiBAfterThousandDigits(r.pid, env);
        stop(r);
    }

    // Key to sound while keys keep coming; what the program and the server spend in the silence
    // after the last word; and key to sound for the first digit after that silence.
    const Running r = start(numeri, env);
    QThread::msleep(1500);
    const std::vector<double> sounds = keyToSound(sound, 10);
    QThread::msleep(15000);
    const int idleStreams = sound.streams();
    const auto ticks = [](qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1.0;
        const QList<QByteArray> f = stat.readAll().split(')').value(1).split(' ');
        return (f.value(12).toDouble() + f.value(13).toDouble()) / double(sysconf(_SC_CLK_TCK));
    };
    const double idleN = ticks(r.pid), idleS = ticks(sound.pid());
    QThread::msleep(10000);
    const double idleCpuN = (ticks(r.pid) - idleN) * 10,
                 idleCpuS = (ticks(sound.pid()) - idleS) * 10;
    const std::vector<double> afterSilence
        = keyToSound(sound, 3, 4000); // each after the device closed
    // The first digit after the sound server was killed and started again, a word having played
    // before: the program finds the server anew.
    std::vector<double> afterRestart;
    for (int i = 0; i < 3; ++i) {
        keyToSound(sound, 1);
        sound.kill();
        QThread::msleep(500);
        if (!sound.start())
            break;
        QThread::msleep(1000);
        const std::vector<double> first = keyToSound(sound, 1);
        afterRestart.insert(afterRestart.end(), first.begin(), first.end());
    }
    stop(r);

    // The locked full screen, on screens of its own: start-up and memory next to the floor shown
    // full screen too, and key to screen with the pixels each digit draws again.
    struct LockedScreen
    {
        QString size;
        double start = -1, floorStart = -1, screenMedian = -1, screenMax = -1, pixels = -1;
        double wholeMedian = -1, wholeMax = -1;
        double boxMedian = -1, boxMax = -1, boxPixels = -1;
        double mem = -1, floorMem = -1, mem1000 = -1, floorMem1000 = -1;
    };
    std::vector<LockedScreen> locked;
    const QStringList lockedArgs { QStringLiteral("--schermo-intero") };
    for (const char *size : { "1920x1080", "3840x2160" }) {
        const XServer screen { QString::fromLatin1(size) };
        QProcessEnvironment on = env;
        on.insert(QStringLiteral("DISPLAY"), screen.display());
        LockedScreen l { QString::fromLatin1(size) };
        std::vector<double> mapL, mapLF, memL, memLF;
        // A new X server's first clients pay for what it sets up once: one of each, not counted.
        for (int i = -1; i < 7; ++i) {
            for (const bool ours : { true, false }) {
                const Running r = start(ours ? numeri : floor, on, lockedArgs);
                QThread::msleep(700);
                if (i >= 0) {
                    (ours ? mapL : mapLF).push_back(r.mapMs);
                    (ours ? memL : memLF).push_back(double(peakKiB(r.pid)) / 1024);
                }
                stop(r);
            }
        }
        l.start = median(mapL);
        l.floorStart = median(mapLF);
        l.mem = median(memL);
        l.floorMem = median(memLF);
        {
            // The floor after the same 1000 digits, full screen too.
            const Running f = start(floor, on, lockedArgs);
            QThread::msleep(1000);
            l.floorMem1000 = peakMiBAfterThousandDigits(f.pid, on);
            stop(f);
        }
        const Running r = start(numeri, on, lockedArgs);
        QThread::msleep(1500);
        std::vector<double> pixels, whole;
        const std::vector<double> times = xwatch(on,
            QStringList { QStringLiteral("keys"), r.window } + digits
                + QStringList { QStringLiteral("30") },
            &pixels, &whole);
        l.mem1000 = peakMiBAfterThousandDigits(r.pid, on);
        // A letter's box, drawn in the full screen, and Return that closes it, in turn: the
        // letters' times are the boxes'.
        std::vector<double> drawn;
        const std::vector<double> turns = xwatch(on,
            QStringList { QStringLiteral("keys"), r.window, QStringLiteral("d"),
                QStringLiteral("Return"), QStringLiteral("20") },
            &drawn);
        std::vector<double> boxes, boxPixels;
        for (size_t i = 0; i < turns.size() && i < drawn.size(); i += 2) {
            boxes.push_back(turns[i]);
            boxPixels.push_back(drawn[i]);
        }
        stop(r);
        l.boxMedian = median(boxes);
        l.boxMax = maximum(boxes);
        l.boxPixels = median(boxPixels);
        l.screenMedian = median(times);
        l.screenMax = maximum(times);
        l.pixels = median(pixels);
        l.wholeMedian = median(whole);
        l.wholeMax = maximum(whole);
        locked.push_back(l);
    }

    // Start-up on the Wayland desktops families use, each started once for all its starts.
    std::vector<DesktopStartUps> desktops;
    for (const Desktop::Kind kind : { Desktop::Gnome, Desktop::Kwin })
        desktops.push_back(desktopStartUps(kind, numeri, floor, lockedArgs));

    // The key handler's own cost, with the sound server working, missing and hung.
    const QMap<QString, QString> k = keypressFigures(env);
    QProcessEnvironment silent = env;
    silent.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/numeri-bench"));
    const QMap<QString, QString> ks = keypressFigures(silent);
    ::kill(pid_t(sound.pid()), SIGSTOP);
    const QMap<QString, QString> kh = keypressFigures(env);
    ::kill(pid_t(sound.pid()), SIGCONT);

    // The parent's window with files from a phone.
    const QMap<QString, QString> im = inProcessFigures(QStringLiteral("numeri_import"), env);

    const double startN = median(mapN), startF = median(mapF);
    const double memShownN = median(memN), memShownF = median(memF);
    std::printf("%-44s %12s %12s %10s   %s\n", "measure", "numeri", "floor", "ratio", "target");
    const auto row = [](const char *name, double n, double f, const char *target) {
        if (f > 0)
            std::printf("%-44s %12.2f %12.2f %10.2f   %s\n", name, n, f, n / f, target);
        else
            std::printf("%-44s %12.2f %12s %10s   %s\n", name, n, "", "", target);
    };
    row("start-up to first map, median of 7 (ms)", startN, startF, "<= 1.05x floor");
    row("peak memory once shown (MiB)", memShownN, memShownF, "<= floor + 10 MiB");
    row("peak memory after 1000 digits (MiB)", hwm1000N, hwm1000F, "<= floor + 10 MiB");
    row("key to screen, median of 30 (ms)", median(screenN), median(screenF), "<= 2x floor");
    row("key to screen, max of 30 (ms)", maximum(screenN), maximum(screenF), "< 16.7");
    row("held 10 s at 30/s: release to last drawing (ms)", holdN, holdF, "< 16.7");
    row("key to sound, median of 10 (ms)", median(sounds), -1, "< 40");
    row("key to sound, max of 10 (ms)", maximum(sounds), -1, "");
    // The key handler's figures, as numeri_keypress printed them.
    const auto keypress = [&row](const char *name, const QMap<QString, QString> &figures,
                              const char *key, const char *medianTarget, const char *p99Target) {
        const QString base = QString::fromLatin1(key);
        row(qPrintable(QString::fromLatin1(name) + u", median (ms)"),
            figures.value(base + u"_median_ms").toDouble(), -1, medianTarget);
        row(qPrintable(QString::fromLatin1(name) + u", p99 (ms)"),
            figures.value(base + u"_p99_ms").toDouble(), -1, p99Target);
    };
    keypress("Text1_KeyPress digit", k, "keypress_digit", "< 2", "< 8");
    keypress("Text1_KeyPress same digit", k, "keypress_repeat", "", "");
    keypress("Text1_KeyPress other key to box open", k, "keypress_other_to_box", "", "");
    keypress("digit with no sound server", ks, "keypress_digit", "< 2", "< 8");
    keypress("digit with the server hung", kh, "keypress_digit", "< 2", "< 8");
    row("15 s after the last word: streams held", idleStreams, -1, "0");
    row("15 s after: program CPU, % of a core", idleCpuN, -1, "< 0.1");
    row("15 s after: server CPU, % of a core", idleCpuS, -1, "");
    row("first digit after silence, median of 3 (ms)", median(afterSilence), -1, "< 80");
    row("first digit after a server restart, max of 3 (ms)",
        afterRestart.size() == 3 ? maximum(afterRestart) : -1, -1, "< 200");
    std::printf("with a full family folder (ten 4000 x 3000 photos, ten words):\n");
    row("start-up to first map, median of 7 (ms)", median(mapP), startF, "<= 1.05x floor");
    row("peak memory once shown (MiB)", median(memP), memShownF, "<= floor + 10 MiB");
    row("peak memory after 1000 digits (MiB)", hwm1000P, hwm1000F, "<= floor + 10 MiB");
    row("key to screen, median of 30 (ms)", median(screenP), median(screenN),
        "< 16.7, <= 2x the installed pictures'");
    row("key to screen, max of 30 (ms)", maximum(screenP), -1, "");
    row("key to sound, median of 10 (ms)", median(soundsP), -1, "< 40");
    for (const LockedScreen &l : locked) {
        std::printf("locked full screen (--schermo-intero) at %s:\n", qPrintable(l.size));
        row("start-up to first map, median of 7 (ms)", l.start, l.floorStart,
            "<= 1.05x floor, full screen too");
        row("peak memory once shown, median of 7 (MiB)", l.mem, l.floorMem,
            "<= floor + 12 MiB, full screen too");
        row("peak memory after 1000 digits (MiB)", l.mem1000, l.floorMem1000,
            "<= floor + 12 MiB, full screen too");
        row("key to screen, median of 30 (ms)", l.screenMedian, -1, "< 16.7");
        row("key to screen, max of 30 (ms)", l.screenMax, -1, "< 16.7");
        row("key to the picture drawn too, median of 30 (ms)", l.wholeMedian, -1, "");
        row("key to the picture drawn too, max of 30 (ms)", l.wholeMax, -1, "");
        row("pixels drawn again per digit, median", l.pixels, -1, "label and picture, not screen");
        row("key to its box drawn, median of 10 (ms)", l.boxMedian, -1, "< 16.7");
        row("key to its box drawn, max of 10 (ms)", l.boxMax, -1, "< 16.7");
        row("pixels drawn for a box, median", l.boxPixels, -1, "label and box, not screen");
    }
    for (const DesktopStartUps &d : desktops) {
        std::printf("start-up on %s (Wayland, headless), to the window's first frame:\n",
            qPrintable(d.name));
        if (!d.why.isEmpty()) {
            std::printf("  not measured: %s\n", qPrintable(d.why));
            continue;
        }
        const QString of = QStringLiteral(", median of %1 (ms)").arg(desktopStarts);
        row(qPrintable(u"plain window" + of), d.plain, d.floor, "<= 1.05x floor");
        row(qPrintable(u"locked full screen" + of), d.locked, d.lockedFloor,
            "<= 1.05x floor, full screen too");
    }
    std::printf("the parent's window (numeri --registra), 5 words held:\n");
    row("key down to the microphone recording, median (ms)", median(rec.open), -1, "< 50");
    row("key down to the microphone recording, max (ms)", maximum(rec.open), -1, "");
    row("release to the playback heard, median (ms)", median(rec.playback), -1, "< 200");
    row("release to the playback heard, max (ms)", maximum(rec.playback), -1, "");
    row("microphone streams held once the keys are up", rec.heldAfter, -1, "0");
    std::printf("the parent's window with files from a phone (in-process):\n");
    const auto figure = [&im](const char *key) {
        return im.value(QString::fromLatin1(key), QStringLiteral("-1")).toDouble();
    };
    row("60 s Opus message to its waveform, median of 5 (ms)", figure("import_opus_60s_ms"), -1,
        "< 1000");
    row("60 s AAC (M4A) message to its waveform (ms)", figure("import_aac_60s_ms"), -1, "< 1000");
    row("decoding process's peak memory, 60 s Opus (MiB)",
        figure("import_decoder_opus_60s_peak_mib"), -1, "bounded");
    row("decoding process's peak memory, 60 s AAC (MiB)", figure("import_decoder_aac_60s_peak_mib"),
        -1, "bounded");
    row("10-minute Opus message to its waveform (ms)", figure("import_opus_10min_ms"), -1,
        "2 min read");
    row("decoding process's peak memory, 10 min (MiB)", figure("import_decoder_10min_peak_mib"), -1,
        "bounded");
    row("12-megapixel HEIC photo to saved, median of 3 (ms)", figure("import_heic_12mp_ms"), -1,
        "< 2000");
    row("48-megapixel AVIF photo to saved, median of 3 (ms)", figure("import_avif_48mp_ms"), -1,
        "< 5000");
    row("decoding process's peak memory, 12 MP HEIC (MiB)",
        figure("import_decoder_heic_12mp_peak_mib"), -1, "bounded");
    row("decoding process's peak memory, 48 MP AVIF (MiB)",
        figure("import_decoder_avif_48mp_peak_mib"), -1, "bounded");

    std::printf(
        "startup_ms=%.2f floor_startup_ms=%.2f startup_ratio=%.2f peak_mib=%.1f "
        "floor_peak_mib=%.1f "
        "peak_1000_mib=%.1f floor_peak_1000_mib=%.1f key_screen_median_ms=%.2f "
        "key_screen_max_ms=%.2f "
        "floor_key_screen_median_ms=%.2f hold_settle_ms=%.2f key_sound_median_ms=%.2f "
        "keypress_digit_median_ms=%s keypress_digit_p99_ms=%s keypress_repeat_median_ms=%s "
        "keypress_other_to_box_median_ms=%s nosound_digit_p99_ms=%s hung_digit_p99_ms=%s "
        "idle_streams=%d idle_cpu_percent=%.2f idle_server_cpu_percent=%.2f "
        "key_sound_after_silence_ms=%.2f key_sound_after_restart_max_ms=%.2f "
        "family_startup_ratio=%.2f family_peak_1000_mib=%.1f "
        "family_key_screen_median_ms=%.2f family_key_sound_median_ms=%.2f "
        "record_open_median_ms=%.2f record_playback_median_ms=%.2f record_streams_after=%d ",
        startN, startF, startN / startF, memShownN, memShownF, hwm1000N, hwm1000F, median(screenN),
        maximum(screenN), median(screenF), holdN, median(sounds),
        qPrintable(k.value(QStringLiteral("keypress_digit_median_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_digit_p99_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_repeat_median_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_other_to_box_median_ms"))),
        qPrintable(ks.value(QStringLiteral("keypress_digit_p99_ms"))),
        qPrintable(kh.value(QStringLiteral("keypress_digit_p99_ms"))), idleStreams, idleCpuN,
        idleCpuS, median(afterSilence), afterRestart.size() == 3 ? maximum(afterRestart) : -1,
        median(mapP) / startF, hwm1000P, median(screenP), median(soundsP), median(rec.open),
        median(rec.playback), rec.heldAfter);
    for (auto f = im.cbegin(); f != im.cend(); ++f)
        std::printf("%s=%s ", qPrintable(f.key()), qPrintable(f.value()));
    for (const LockedScreen &l : locked)
        std::printf("locked_%s_startup_ratio=%.2f locked_%s_key_screen_max_ms=%.2f "
                    "locked_%s_pixels=%.0f locked_%s_box_max_ms=%.2f locked_%s_peak_mib=%.1f "
                    "locked_%s_floor_peak_mib=%.1f locked_%s_peak_1000_mib=%.1f "
                    "locked_%s_floor_peak_1000_mib=%.1f locked_%s_key_picture_max_ms=%.2f ",
            qPrintable(l.size), l.start / l.floorStart, qPrintable(l.size), l.screenMax,
            qPrintable(l.size), l.pixels, qPrintable(l.size), l.boxMax, qPrintable(l.size), l.mem,
            qPrintable(l.size), l.floorMem, qPrintable(l.size), l.mem1000, qPrintable(l.size),
            l.floorMem1000, qPrintable(l.size), l.wholeMax);
    for (const DesktopStartUps &d : desktops) {
        const QString key = d.name.split(u' ').value(0).toLower();
        std::printf("%s_startup_ms=%.2f %s_floor_startup_ms=%.2f %s_startup_ratio=%.2f "
                    "%s_locked_startup_ms=%.2f %s_locked_floor_startup_ms=%.2f "
                    "%s_locked_startup_ratio=%.2f ",
            qPrintable(key), d.plain, qPrintable(key), d.floor, qPrintable(key),
            d.floor > 0 ? d.plain / d.floor : -1, qPrintable(key), d.locked, qPrintable(key),
            d.lockedFloor, qPrintable(key), d.lockedFloor > 0 ? d.locked / d.lockedFloor : -1);
    }
    std::printf("\n");
    return 0;
}
