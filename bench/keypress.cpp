// The cost of one key in the lesson, measured in-process: a digit (picture read and shown, sound
// started), the same digit again, and any other key up to its box being open.
#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
struct Figures
{
    double median;
    double p99;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return { ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)] };
}

void report(const char *name, const std::vector<double> &ms)
{
    const Figures f = figures(ms);
    std::printf("%s_median_ms=%.3f\n%s_p99_ms=%.3f\n", name, f.median, name, f.p99);
}
} // namespace

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    lesson::SdlSound sound;
    Form1 window(sound, QStringLiteral(NUMERI_BUILD_DIR));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto *catcher = window.findChild<QLineEdit *>(QStringLiteral("Text1"));
    sound.start();
    QTest::qWait(500); // the sound device opens in the background meanwhile
    std::fprintf(stderr, "keypress: sound device %s\n", sound.hasDevice() ? "open" : "absent");

    const auto press = [&](int digit) {
        QElapsedTimer t;
        t.start();
        QTest::sendKeyEvent(
            QTest::Click, catcher, Qt::Key(Qt::Key_0 + digit), QString::number(digit), {});
        const double ms = double(t.nsecsElapsed()) / 1e6;
        QCoreApplication::processEvents(); // paint, as the program's loop would after the key
        return ms;
    };
    std::vector<double> digits, repeated, others;
    for (int i = 0; i < 1000; ++i)
        digits.push_back(press((i * 3) % 10));
    for (int i = 0; i < 1000; ++i)
        repeated.push_back(press(4));
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer t;
        double opened = 0;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                opened = double(t.nsecsElapsed()) / 1e6;
                box->accept();
            }
        });
        closer.start(0);
        t.start();
        QTest::sendKeyEvent(QTest::Click, catcher, Qt::Key_A, QStringLiteral("a"), {});
        others.push_back(opened);
    }
    report("keypress_digit", digits);
    report("keypress_repeat", repeated);
    report("keypress_other_to_box", others);
    // Not a word more: with a hung sound server the sound thread cannot be ended.
    std::fflush(stdout);
    std::_Exit(0);
}
