#include "family/decoding.h"

#include "decoder/pcm.h"
#include "family/italian.h"

#include <QCoreApplication>
#include <QtEndian>

namespace family {

namespace {
using namespace std::chrono_literals;
// A two-minute message decodes in well under a second; a file still at it after this is made to
// hang, or is read from a disk that no longer answers.
constexpr auto defaultLimit = 15s;
// The longest part read, with a second to spare: more output than this is no decoder of ours.
constexpr qsizetype mostBytes = qsizetype(decode::longestSeconds + 1) * decode::playRate * 2;
} // namespace

// What the decoding process said on its standard error beside a sound, for the parent.
QString note(const QString &said);

QString decoderProgram()
{
    const QString chosen = qEnvironmentVariable("NUMERI_DECODER");
    return chosen.isEmpty() ? QCoreApplication::applicationDirPath() + u"/numeri-decode" : chosen;
}

Decoding::Decoding(QObject *parent)
    : QObject(parent)
{
    m_limit.setSingleShot(true);
    m_limit.setInterval(defaultLimit);
    connect(&m_limit, &QTimer::timeout, this,
        [this] { give(QStringLiteral("leggerlo richiede troppo tempo, forse è rovinato")); });
}

Decoding::~Decoding()
{
    abandon();
}

void Decoding::read(const QString &file)
{
    m_picture = false;
    start({ file }, mostBytes);
}

void Decoding::readPicture(const QString &file, QSize most)
{
    m_picture = true;
    start({ QStringLiteral("--picture"), QString::number(most.width()),
              QString::number(most.height()), file },
        qsizetype(most.width()) * most.height() * 3 + 64);
}

void Decoding::start(const QStringList &arguments, qsizetype mostBytes)
{
    abandon();
    m_out.clear();
    m_overlong = false;
    m_mostBytes = mostBytes;
    auto *process = new QProcess(this);
    m_process = process;
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (process != m_process)
            return;
        m_out += process->readAllStandardOutput();
        if (m_out.size() > m_mostBytes) {
            m_overlong = true;
            process->kill();
        }
    });
    connect(
        process, &QProcess::finished, this, [this, process](int status, QProcess::ExitStatus how) {
            process->deleteLater();
            if (process == m_process)
                finished(process, status, how);
        });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || process != m_process)
            return;
        process->deleteLater();
        m_process = nullptr;
        give(QStringLiteral("manca il programma che legge i file (%1): reinstalla il gioco")
                 .arg(process->program()));
    });
    process->start(decoderProgram(), arguments);
    m_limit.start();
}

void Decoding::abandon()
{
    m_limit.stop();
    if (!m_process)
        return;
    QProcess *process = std::exchange(m_process, nullptr);
    process->disconnect(this);
    // Killed, and gone once it has ended: the window never waits for it, not even a process stuck
    // on a disk that does not answer. The application keeps it until then.
    process->setParent(qApp);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}

void Decoding::finished(QProcess *process, int status, QProcess::ExitStatus how)
{
    m_process = nullptr;
    m_limit.stop();
    m_out += process->readAllStandardOutput();
    const QString said = QString::fromUtf8(process->readAllStandardError()).trimmed();
    if (m_overlong) {
        give(reader() + u" non ha funzionato come doveva: forse il file è rovinato");
    } else if (how == QProcess::CrashExit) {
        give(reader() + u" si è fermato sul file, forse rovinato");
    } else if (status == 3) {
        give(QStringLiteral("per questo formato serve il pacchetto %1 di Debian: installalo e "
                            "riprova")
                 .arg(said));
    } else if (status != 0 || (!m_picture && m_out.size() % 2 != 0)) {
        give(said.isEmpty() ? QStringLiteral("il file non si lascia leggere") : said);
    } else if (m_picture) {
        const QImage picture = QImage::fromData(m_out, "PPM");
        m_out.clear();
        if (picture.isNull())
            give(QStringLiteral("il programma che legge i file ha dato una figura rovinata"));
        else
            Q_EMIT pictureDecoded(picture);
    } else {
        std::vector<qint16> samples(size_t(m_out.size() / 2));
        qFromLittleEndian<qint16>(m_out.constData(), qsizetype(samples.size()), samples.data());
        m_out.clear();
        Q_EMIT decoded(samples, note(said));
    }
}

QString Decoding::reader() const
{
    return m_picture ? QStringLiteral("il programma che legge le foto")
                     : QStringLiteral("il programma che legge i suoni");
}

QString note(const QString &said)
{
    QString note;
    for (const QString &line : said.split(u'\n')) {
        const QStringList words = line.trimmed().split(u' ');
        if (words.first() == u"cut")
            note += QStringLiteral("Il file è lungo: ho preso solo i primi 2 minuti. ");
        if (words.first() != u"short" || words.size() != 3)
            continue;
        // The process writes its numbers as C does; the parent reads them as Italian does.
        const double read = words[1].toDouble(), length = words[2].toDouble();
        note += u"Attenzione, il file sembra interrotto: ho letto " + seconds(read) + u" s"
            + (length > 0 ? u" su " + seconds(length) : QString()) + u". ";
    }
    return note;
}

void Decoding::give(const QString &why)
{
    abandon();
    m_out.clear();
    Q_EMIT failed(why);
}

} // namespace family
