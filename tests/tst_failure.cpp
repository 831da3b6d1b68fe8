// A failure that escapes an event handler: the user sees its number and description in Italian,
// then the program ends with a status that says it failed.
#include "shell/application.h"
#include "testkit.h"

#include <QTest>
#include <QTimer>
#include <functional>
#include <new>
#include <optional>

namespace {
// Throws from inside event delivery, as a broken handler would.
class Thrower : public QObject
{
public:
    explicit Thrower(std::function<void()> fault)
        : m_fault(std::move(fault))
    { }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        killTimer(event->timerId());
        m_fault();
    }

private:
    std::function<void()> m_fault;
};
} // namespace

class TestFailure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportedThenEnds_data();
    void reportedThenEnds();
};

void TestFailure::reportedThenEnds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("program failure")
        << 0 << QStringLiteral("Errore di run-time '53':\n\nFile non trovato");
    QTest::newRow("out of memory")
        << 1 << QStringLiteral("Errore di run-time '7':\n\nMemoria esaurita");
    QTest::newRow("library exception")
        << 2 << QStringLiteral("Errore di run-time '51':\n\nErrore interno");
    QTest::newRow("anything thrown")
        << 3 << QStringLiteral("Errore di run-time '51':\n\nErrore interno");
}

void TestFailure::reportedThenEnds()
{
    QFETCH(int, kind);
    QFETCH(QString, text);

    Thrower thrower([kind] {
        switch (kind) {
        case 0:
            throw Failure(53, QStringLiteral("File non trovato"));
        case 1:
            throw std::bad_alloc();
        case 2:
            throw std::out_of_range("index");
        default:
            throw 42;
        }
    });
    thrower.startTimer(0);
    std::optional<testkit::BoxCloser> closer;
    closer.emplace();
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });

    auto *app = static_cast<Application *>(qApp);
    const int status = app->exitStatus(QCoreApplication::exec());
    QVERIFY(closer->box().seen);
    QCOMPARE(closer->box().text, text);
    QCOMPARE(closer->box().icon, QMessageBox::Critical);
    QCOMPARE(closer->box().title, QStringLiteral("numeri"));
    QCOMPARE(status, Application::failureStatus);
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestFailure test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_failure.moc"
