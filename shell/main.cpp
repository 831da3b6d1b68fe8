#include "family/familywindow.h"
#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"

#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

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
                    "  --registra   apre la finestra per i genitori: registra la tua voce e scegli "
                    "le foto\n"
                    "  --help       mostra questo aiuto ed esce\n"
                    "  --version    mostra la versione ed esce\n";

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
    // Answered before Qt starts, so that they work where there is no screen.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(help, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("numeri " NUMERI_VERSION);
            return 0;
        }
    }
    Application app(argc, argv);
    QStringList options = QCoreApplication::arguments().mid(1);
    const bool family = options.removeAll(QStringLiteral("--registra")) > 0;
    if (!options.isEmpty()) {
        std::fprintf(stderr, "numeri: opzione non riconosciuta: %s\nProva: numeri --help\n",
            qUtf8Printable(options.first()));
        return 2;
    }
    lesson::SdlSound sound;
    if (family) {
        family::FamilyWindow window(sound, QCoreApplication::applicationDirPath());
        window.show();
        return end(sound, app.exitStatus(app.exec()));
    }
    Form1 window(sound, QCoreApplication::applicationDirPath());
    // The window first; the sound system, a much heavier thing to load, and the family's large
    // photos right after.
    const AfterFirstPaint afterPaint(&window, [&sound, &window] {
        sound.start();
        window.readAhead();
    });
    window.show();
    return end(sound, app.exitStatus(app.exec()));
}
