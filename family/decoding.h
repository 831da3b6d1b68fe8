#pragma once

#include <QImage>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <vector>

namespace family {

// Reads a sound file from outside the family's computer (a voice message, a memo) into the play
// format, or a picture that Qt cannot read, through the program's own decoding process, never in
// this one: a file made to crash or hang a decoder costs that process alone, which gets a time
// limit. One file at a time; a new one stops the one before. Nothing here waits: the process
// answers through the event loop.
class Decoding : public QObject
{
    Q_OBJECT
public:
    explicit Decoding(QObject *parent = nullptr);
    ~Decoding() override;

    void read(const QString &file);
    // Reads the picture FILE (HEIC, AVIF), upright and no larger than MOST.
    void readPicture(const QString &file, QSize most);
    bool busy() const { return m_process != nullptr; }
    // How long the decoding process may take before it is stopped.
    void setTimeLimit(std::chrono::milliseconds limit) { m_limit.setInterval(limit); }

Q_SIGNALS:
    // The sound, and what the parent should know of it, in Italian sentences: that the file went
    // on past the longest part read, or that it seems cut off; empty where nothing.
    void decoded(const std::vector<qint16> &samples, const QString &note);
    void pictureDecoded(const QImage &picture);
    // Why it could not be read, in Italian, to follow "Non riesco a usare questo file: ".
    void failed(const QString &why);

private:
    void start(const QStringList &arguments, qsizetype mostBytes);
    void finished(QProcess *process, int status, QProcess::ExitStatus how);
    void give(const QString &why);
    // The sound's file or the picture's, for what is said of the program that reads it.
    QString reader() const;
    // Stops the process under way, if any, without waiting for it to end.
    void abandon();

    QProcess *m_process = nullptr;
    QTimer m_limit;
    QByteArray m_out;
    bool m_overlong = false;
    bool m_picture = false;
    qsizetype m_mostBytes = 0;
};

// The decoding program: NUMERI_DECODER where set, else numeri-decode beside this program.
QString decoderProgram();

} // namespace family
