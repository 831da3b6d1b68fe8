#include "shell/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <new>

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
