#include "family/familywindow.h"
#include "lesson/sound.h"
#include "lock/fullscreen.h"
#include "lock/keepabove.h"
#include "lock/keyboardlock.h"
#include "lock/onlyone.h"
#include "lock/settings.h"
#include "shell/application.h"
#include "shell/form1.h"

#include <QEvent>
#include <QThreadPool>
#include <QTimer>
#include <QtPlugin>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

Q_IMPORT_PLUGIN(PngIcons)

namespace {
// Runs `then` once `window` has painted for the first time.
class AfterFirstPaint : public QObject
{
public:
    AfterFirstPaint(QWidget *window, std::function<void()> then)
        : m_then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, m_then);
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

const char help[] = "Uso: numeri [OPZIONE]\n"
                    "Ti insegno i numeri fino a 9: il bambino preme un tasto, vede la cifra, sente "
                    "il suo nome e conta le figure.\n"
                    "\n"
                    "  --registra [FILE] apre la finestra per i genitori: registra la tua voce, "
                    "scegli\n"
                    "                    le foto e se il gioco si apre sempre a schermo intero;\n"
                    "                    con FILE, un messaggio vocale da cui tenere la parola\n"
                    "  --schermo-intero  gioca a schermo intero, con i tasti del desktop bloccati; "
                    "per\n"
                    "                    uscire si tiene premuto Esc per 3 secondi\n"
                    "  --help            mostra questo aiuto ed esce\n"
                    "  --version         mostra la versione ed esce\n";

int unknown(const char *option)
{
    std::fprintf(stderr, "numeri: opzione non riconosciuta: %s\nProva: numeri --help\n", option);
    return 2;
}

// Ends the program: a sound server that does not answer can hold the sound thread for good, and
// then the program ends all the same, without unloading what that thread is inside.
int end(lesson::SdlSound &sound, int status)
{
    if (!sound.stop(std::chrono::milliseconds(500))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
} // namespace

int main(int argc, char *argv[])
{
    // Answered before Qt starts, so that they work where there is no screen. Qt's own options
    // (-platform, -style, ...) begin with one dash; what Qt does not take is checked after it.
    bool family = false;
    bool fullScreen = false;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        if (std::strcmp(option, "--help") == 0) {
            std::fputs(help, stdout);
            return 0;
        }
        if (std::strcmp(option, "--version") == 0) {
            std::puts("numeri " NUMERI_VERSION);
            return 0;
        }
        if (std::strcmp(option, "--registra") == 0)
            family = true;
        else if (std::strcmp(option, "--schermo-intero") == 0)
            fullScreen = true;
        else if (std::strncmp(option, "--", 2) == 0)
            return unknown(option);
    }
    Application app(argc, argv);
    app.endOnSignals();
    QStringList left = QCoreApplication::arguments().mid(1);
    // The file that follows --registra, where one does ("Apri con…" from a file manager).
    QString handed;
    if (const qsizetype at = left.indexOf(QStringLiteral("--registra"));
        at >= 0 && at + 1 < left.size() && !left[at + 1].startsWith(u'-'))
        handed = left.takeAt(at + 1);
    left.removeAll(QStringLiteral("--registra"));
    left.removeAll(QStringLiteral("--schermo-intero"));
    if (!left.isEmpty())
        return unknown(qUtf8Printable(left.first()));
    lesson::SdlSound sound;
    if (family) {
        family::FamilyWindow window(sound, QCoreApplication::applicationDirPath());
        window.show();
        if (!handed.isEmpty())
            window.open(handed);
        return end(sound, app.exitStatus(app.exec()));
    }
    const bool locked = fullScreen || lock::alwaysFullScreen();
    const std::unique_ptr<lock::ScreenClaim> claim = locked ? lock::claimLockedScreen() : nullptr;
    if (locked && !claim) {
        std::fputs("numeri: il gioco è già aperto a schermo intero: resta quello\n", stderr);
        return 0;
    }
    auto *window = new Form1(sound, QCoreApplication::applicationDirPath());
    // The window first; the sound system, a much heavier thing to load, and the family's large
    // photos right after.
    const AfterFirstPaint afterPaint(window, [&sound, window] {
        sound.start();
        window->readAhead();
    });
    if (!locked) {
        const std::unique_ptr<Form1> owner(window);
        window->show();
        return end(sound, app.exitStatus(app.exec()));
    }
    lock::FullScreen screen(window);
    QObject::connect(&screen, &lock::FullScreen::rescaled, window, &Form1::rescaled);
    const lock::KeepAbove above(&screen);
    window->holdEscapeToLeave();
    const lock::KeyboardLock keys(&screen);
    // For the parent's window, which tells what this desktop let the lesson lock.
    QObject::connect(&keys, &lock::KeyboardLock::changed, &app, [](bool, const QString &why) {
        QThreadPool::globalInstance()->start([why] { lock::noteLock(why); });
    });
    screen.showWhereTheKeysAre();
    return end(sound, app.exitStatus(app.exec()));
}
