#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"

#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
} // namespace

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    lesson::SdlSound sound;
    Form1 window(sound, QCoreApplication::applicationDirPath());
    // The window first; the sound system, a much heavier thing to load, and the family's large
    // photos right after.
    const AfterFirstPaint afterPaint(&window, [&sound, &window] {
        sound.start();
        window.readAhead();
    });
    window.show();
    const int status = app.exitStatus(app.exec());
    // A sound server that does not answer can hold the sound thread for good; the child has said
    // goodbye, so the program ends all the same, without unloading what that thread is inside.
    if (!sound.stop(std::chrono::milliseconds(500))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
