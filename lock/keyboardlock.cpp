#include "lock/keyboardlock.h"

#include "lock/shortcutsinhibitor.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdio>

namespace lock {

KeyboardLock::KeyboardLock(QWidget *window)
    : m_window(window)
    , m_x11(QGuiApplication::platformName() == u"xcb")
{
    m_retry.setInterval(250);
    connect(&m_retry, &QTimer::timeout, this, &KeyboardLock::grab);
    // Every window of the program, the boxes too: a box that shows or goes changes who must hold
    // the pointer.
    QCoreApplication::instance()->installEventFilter(this);
}

KeyboardLock::~KeyboardLock() = default;

bool KeyboardLock::eventFilter(QObject *watched, QEvent *event)
{
    if (!qobject_cast<QWindow *>(watched))
        return false;
    if (event->type() == QEvent::Expose || event->type() == QEvent::Hide) {
        // After the event, when the window is as it says: a box's pointer grab goes with it.
        QMetaObject::invokeMethod(this, &KeyboardLock::grab, Qt::QueuedConnection);
    }
    return false;
}

void KeyboardLock::grab()
{
    QWindow *main = m_window->windowHandle();
    if (!main || !main->isExposed())
        return;
    if (!m_x11) {
        if (!m_inhibitor) {
            m_inhibitor = ShortcutsInhibitor::ask(main);
            if (!m_inhibitor) {
                tell(false,
                    QStringLiteral("questo desktop non permette di bloccare la tastiera: il gioco "
                                   "è a schermo intero, ma i tasti del desktop funzionano"));
                return;
            }
            connect(m_inhibitor.get(), &ShortcutsInhibitor::changed, this, &KeyboardLock::tell);
        }
        return;
    }
    // The keyboard stays with the lesson's window for good: X gives its keys to whichever of the
    // program's windows has the focus, an open box too. The pointer's events go to the window
    // that holds it, so a box holds it while it is open, for its button to be clicked.
    QWindow *pointer = QGuiApplication::modalWindow();
    if (!pointer || !pointer->isExposed())
        pointer = main;
    const bool keys = main->setKeyboardGrabEnabled(true);
    const bool mouse = keys && pointer->setMouseGrabEnabled(true);
    if (keys && mouse) {
        m_retry.stop();
        if (!m_holds)
            tell(true, QStringLiteral("tastiera e mouse bloccati"));
        return;
    }
    if (!m_saidRefused) {
        m_saidRefused = true;
        tell(false,
            QStringLiteral("un altro programma tiene la tastiera o il mouse: il blocco riprova "
                           "finché li lascia"));
    }
    m_retry.start();
}

void KeyboardLock::tell(bool holds, const QString &why)
{
    // Only what changes is worth a line: a grab taken again after each box is not news.
    if (holds == m_holds && holds)
        return;
    m_holds = holds;
    std::fprintf(stderr, "numeri: %s\n", qUtf8Printable(why));
    Q_EMIT changed(holds, why);
}

} // namespace lock
