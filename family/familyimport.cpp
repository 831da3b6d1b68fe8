// The parent's window, for files from elsewhere: a voice message or a phone's memo to be cut to
// its word, and pictures; chosen in a dialog, dropped on a digit's row, or handed to the program.
#include "family/cutpanel.h"
#include "family/decoding.h"
#include "family/familywindow.h"
#include "family/italian.h"
#include "ui_digitrow.h"
#include "ui_familywindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QMimeDatabase>
#include <QStandardPaths>

namespace family {

namespace {
// What phones and messengers send, as the dialog offers it.
const QString soundPatterns = QStringLiteral(
    "Suoni e messaggi vocali (*.opus *.oga *.ogg *.m4a *.aac *.mp4 *.3gp *.3gpp *.amr *.mp3 *.wav "
    "*.flac *.OPUS *.OGA *.OGG *.M4A *.AAC *.MP4 *.3GP *.AMR *.MP3 *.WAV *.FLAC);;Tutti i file "
    "(*)");

// By its name alone: the window reads no file it is handed, which may be a FIFO.
bool isPicture(const QString &file)
{
    return readByDecoder(file)
        || QMimeDatabase()
               .mimeTypeForFile(file, QMimeDatabase::MatchExtension)
               .name()
               .startsWith(u"image/");
}

QString localFile(const QMimeData *data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    return urls.size() == 1 && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}
} // namespace

bool readByDecoder(const QString &file)
{
    static const QStringList suffixes = { QStringLiteral("heic"), QStringLiteral("heif"),
        QStringLiteral("hif"), QStringLiteral("avif") };
    return suffixes.contains(QFileInfo(file).suffix().toLower());
}

void FamilyWindow::choosePhoto(int digit)
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns << u"*." + QString::fromLatin1(format);
    // iPhones' photos, and AVIF, which the decoding process reads.
    patterns << QStringLiteral(
        "*.heic *.heif *.hif *.avif *.HEIC *.HEIF *.AVIF *.JPG *.JPEG *.PNG");
    const QString source
        = QFileDialog::getOpenFileName(this, u"Scegli una foto per " + theDigit(digit),
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
            QStringLiteral("Immagini (%1)").arg(patterns.join(u' ')));
    if (!source.isEmpty())
        usePhoto(digit, source);
    // Tab goes on from where it was.
    m_rows[size_t(digit)]->choosePhoto->setFocus();
}

void FamilyWindow::usePhoto(int digit, const QString &source)
{
    say(u"Preparo la foto " + ofTheDigit(digit) + u"…");
    if (readByDecoder(source)) {
        m_pictureFor = digit;
        m_pictureName = QFileInfo(source).fileName();
        m_pictures->readPicture(source, photoDecodeSize());
        return;
    }
    savePhoto(digit, [source](QByteArray *plain, QByteArray *twice, QString *reason) {
        return photoFiles(source, plain, twice, reason);
    });
}

void FamilyWindow::savePhoto(int digit, PhotoMaker make)
{
    const FileChanges names = { { familyFile(digit, QStringLiteral(".jpg")), {} },
        { familyFile(digit, QStringLiteral("@2x.jpg")), {} } };
    change(
        digit,
        [make, names]() -> Outcome {
            QByteArray plain, twice;
            QString reason;
            if (!make(&plain, &twice, &reason))
                return { QStringLiteral("Non riesco ad aprire questa figura (%1).").arg(reason),
                    {} };
            return changeFiles({ { names[0].file, plain }, { names[1].file, twice } },
                QStringLiteral("Non riesco a salvare la foto: %1."));
        },
        u"Fatto: la foto " + ofTheDigit(digit) + u" è pronta.", true);
}

void FamilyWindow::chooseSound(int digit)
{
    const QString source
        = QFileDialog::getOpenFileName(this, u"Scegli un suono per " + theDigit(digit),
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), soundPatterns);
    if (!source.isEmpty())
        useSound(digit, source);
    // Tab goes on from where it was.
    m_rows[size_t(digit)]->chooseSound->setFocus();
}

void FamilyWindow::useSound(int digit, const QString &source)
{
    m_readingFor = digit;
    m_reading = QFileInfo(source).fileName();
    say(u"Leggo " + m_reading + u"…");
    m_decoding->read(source);
}

void FamilyWindow::decoded(const std::vector<qint16> &samples, bool cutShort)
{
    const Span word = lastWord(samples);
    if (word.end == word.begin) {
        say(u"In " + m_reading + u" non sento nessuna parola." + nothingChanged());
        return;
    }
    ui->cutPanel->showSound(samples, word, m_readingFor,
        m_reading + u": fra le maniglie c'è l'ultima parola; spostale se serve.");
    say((cutShort ? QStringLiteral("Il file è lungo: ho preso solo i primi 2 minuti. ") : QString())
        + u"Ascolta il pezzo, poi «Usa questo pezzo»."
        + (m_readingFor < 0 ? QStringLiteral(" Scegli prima per quale numero è.") : QString()));
}

void FamilyWindow::keepPiece(int digit, const std::vector<qint16> &piece)
{
    if (digit >= 0)
        saveWord(digit, piece, {});
}

void FamilyWindow::open(const QString &file)
{
    if (!isPicture(file)) {
        useSound(-1, file);
        return;
    }
    ui->cutPanel->showPicture(
        file, QFileInfo(file).fileName() + u": scegli per quale numero è, poi «Usa questa foto».");
    say(QStringLiteral("Per quale numero è questa foto?"));
}

bool FamilyWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QVariant digit = watched->property("digit");
    if (!digit.isValid())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter) {
        auto *enter = static_cast<QDragEnterEvent *>(event);
        if (!localFile(enter->mimeData()).isEmpty())
            enter->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString file = localFile(drop->mimeData());
        if (file.isEmpty())
            return true;
        drop->acceptProposedAction();
        if (isPicture(file))
            usePhoto(digit.toInt(), file);
        else
            useSound(digit.toInt(), file);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace family
