#pragma once

#include <QApplication>
#include <stdexcept>

// A failure that no code handles. Like the runtime errors of old desktop toolkits it carries a
// number and an Italian description, which is all the user is ever shown of it.
class Failure : public std::runtime_error
{
public:
    Failure(int number, const QString &description);
    int number() const { return m_number; }
    QString description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

// The program's QApplication: Italian texts for Qt itself, and one place where a failure that
// escapes an event handler is reported and ends the program.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // exec()'s result, unless a failure has ended the program. The failure's number is not the
    // status: numbers past 255 would wrap, some of them to 0, which reads as success.
    int exitStatus(int execResult) const { return m_failureNumber ? failureStatus : execResult; }
    static constexpr int failureStatus = 1;

    // SIGTERM, SIGHUP and SIGINT (a logout, a closed terminal, Ctrl+C) end the program as closing
    // its window does, with status 0, rather than killing it in the middle of a sound.
    void endOnSignals();

private:
    void fail(int number, const QString &description);

    int m_failureNumber = 0;
    bool m_reporting = false;
};
