#include "shell/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

Failure::Failure(int number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{ }

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("numeri"));
    setApplicationVersion(QStringLiteral(NUMERI_VERSION));
    // The desktop's name for the program: on Wayland it becomes the window's app id, which the
    // dock matches with the menu entry of that name.
    setDesktopFileName(QStringLiteral(NUMERI_APP_ID));

    // Qt's own words (box buttons, context menus) are Italian whatever the user's locale.
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    QLocale::setDefault(italian);
    auto *qtTexts = new QTranslator(this);
    if (qtTexts->load(italian, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(qtTexts);
    else
        std::fputs("numeri: traduzione italiana di Qt non trovata\n", stderr);
}

namespace {
int signalled[2] = { -1, -1 };

void onSignal(int)
{
    // Only what is safe in a signal handler: the event loop reads it.
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalled[1], &byte, 1);
}
} // namespace

void Application::endOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalled) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalled[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] { exit(0); });
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(number, &action, nullptr);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const Failure &f) {
        fail(f.number(), f.description());
    } catch (const std::bad_alloc &) {
        fail(7, QStringLiteral("Memoria esaurita"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "numeri: %s\n", e.what());
        fail(51, QStringLiteral("Errore interno"));
    } catch (...) {
        fail(51, QStringLiteral("Errore interno"));
    }
    return true;
}

void Application::fail(int number, const QString &description)
{
    const QString text
        = QStringLiteral("Errore di run-time '%1':\n\n%2").arg(number).arg(description);
    std::fprintf(stderr, "numeri: %s\n", qPrintable(text.simplified()));
    if (m_reporting) {
        // A failure while another is being reported: nothing more can be shown safely.
        std::_Exit(failureStatus);
    }
    m_failureNumber = number;
    m_reporting = true;
    QMessageBox::critical(activeWindow(), applicationName(), text);
    m_reporting = false;
    // Leaves every running event loop, the nested ones of open boxes too, so main() returns.
    exit(failureStatus);
}
