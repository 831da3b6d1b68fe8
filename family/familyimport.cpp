#include "family/familyimport.h"

#include "family/cutpanel.h"
#include "family/decoding.h"
#include "family/familyfiles.h"
#include "family/familywindow.h"
#include "family/italian.h"
#include "lesson/sound.h"

#include <QDir>
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
const QString soundPatterns
    = QStringLiteral("Suoni e messaggi vocali (*.opus *.oga *.ogg *.m4a *.aac *.mp4 *.3gp *.3gpp "
                     "*.amr *.mp3 *.wav *.flac *.webm *.OPUS *.OGA *.OGG *.M4A *.AAC *.MP4 *.3GP "
                     "*.AMR *.MP3 *.WAV *.FLAC *.WEBM);;Tutti i file (*)");

// By its name alone: the window reads no file it is handed, which may be a FIFO.
bool isPicture(const QString &file)
{
    return readByDecoder(file)
        || QMimeDatabase()
               .mimeTypeForFile(file, QMimeDatabase::MatchExtension)
               .name()
               .startsWith(u"image/");
}

// Where a dialog opens: LOCATION, where it is there, else the home folder. Given a folder that is
// not there, Qt's dialog types its name in the file's name field.
QString startIn(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location);
    return QFileInfo(folder).isDir() ? folder : QDir::homePath();
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

FamilyImport::FamilyImport(lesson::SdlSound &sound, CutPanel *panel, QWidget *window)
    : QObject(window)
    , m_window(window)
    , m_panel(panel)
    , m_sounds(new Decoding(this))
    , m_pictures(new Decoding(this))
{
    connect(m_sounds, &Decoding::decoded, this, &FamilyImport::decoded);
    connect(m_sounds, &Decoding::failed, this, [this](const QString &why) {
        Q_EMIT said(u"Non riesco a usare " + m_reading + u": " + why + u'.' + nothingChanged());
    });
    connect(m_pictures, &Decoding::pictureDecoded, this, [this](const QImage &picture) {
        Q_EMIT keepPhoto(m_pictureFor, [picture](QByteArray *plain, QByteArray *twice, QString *) {
            photoFiles(picture, picture.size(), plain, twice);
            return true;
        });
    });
    connect(m_pictures, &Decoding::failed, this, [this](const QString &why) {
        Q_EMIT said(
            u"Non riesco ad aprire " + m_pictureName + u": " + why + u'.' + nothingChanged());
    });
    connect(m_panel, &CutPanel::listenTo, this,
        [&sound](const std::vector<qint16> &piece) { sound.play(piece); });
    connect(
        m_panel, &CutPanel::keepPiece, this, [this](int digit, const std::vector<qint16> &piece) {
            if (digit >= 0)
                Q_EMIT keepWord(digit, piece);
        });
    connect(m_panel, &CutPanel::keepPhoto, this, &FamilyImport::usePhoto);
    connect(m_panel, &CutPanel::said, this, &FamilyImport::said);
}

void FamilyImport::choosePhoto(int digit)
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns << u"*." + QString::fromLatin1(format);
    // iPhones' photos, and AVIF, which the decoding process reads.
    patterns << QStringLiteral(
        "*.heic *.heif *.hif *.avif *.HEIC *.HEIF *.AVIF *.JPG *.JPEG *.PNG");
    const QString source = QFileDialog::getOpenFileName(m_window,
        u"Scegli una foto per " + theDigit(digit), startIn(QStandardPaths::PicturesLocation),
        QStringLiteral("Immagini (%1)").arg(patterns.join(u' ')));
    if (!source.isEmpty())
        usePhoto(digit, source);
}

void FamilyImport::usePhoto(int digit, const QString &source)
{
    Q_EMIT said(u"Preparo la foto " + ofTheDigit(digit) + u"…");
    if (readByDecoder(source)) {
        m_pictureFor = digit;
        m_pictureName = QFileInfo(source).fileName();
        m_pictures->readPicture(source, photoDecodeSize());
        return;
    }
    Q_EMIT keepPhoto(digit, [source](QByteArray *plain, QByteArray *twice, QString *reason) {
        return photoFiles(source, plain, twice, reason);
    });
}

void FamilyImport::chooseSound(int digit)
{
    const QString source
        = QFileDialog::getOpenFileName(m_window, u"Scegli un suono per " + theDigit(digit),
            startIn(QStandardPaths::DownloadLocation), soundPatterns);
    if (!source.isEmpty())
        useSound(digit, source);
}

void FamilyImport::useSound(int digit, const QString &source)
{
    m_readingFor = digit;
    m_reading = QFileInfo(source).fileName();
    Q_EMIT said(u"Leggo " + m_reading + u"…");
    m_sounds->read(source);
}

void FamilyImport::decoded(const std::vector<qint16> &samples, const QString &note)
{
    const Span word = lastWord(samples);
    if (word.end == word.begin) {
        Q_EMIT said(note + u"In " + m_reading + u" non sento nessuna parola." + nothingChanged());
        return;
    }
    m_panel->showSound(samples, word, m_readingFor,
        m_reading + u": fra le maniglie c'è l'ultima parola; spostale se serve.");
    Q_EMIT said(note + u"Ascolta il pezzo, poi «Usa questo pezzo»."
        + (m_readingFor < 0 ? QStringLiteral(" Scegli prima per quale numero è.") : QString()));
}

void FamilyImport::showTake(int digit, const std::vector<qint16> &heard)
{
    m_panel->showSound(heard, voicedSpan(heard), digit,
        u"La registrazione " + ofTheDigit(digit) + u": la parte fra le maniglie è quella salvata.");
}

void FamilyImport::open(const QString &file)
{
    if (!isPicture(file)) {
        useSound(-1, file);
        return;
    }
    m_panel->showPicture(
        file, QFileInfo(file).fileName() + u": scegli per quale numero è, poi «Usa questa foto».");
    Q_EMIT said(QStringLiteral("Per quale numero è questa foto?"));
}

void FamilyImport::takeDrops(QWidget *row, int digit)
{
    row->setAcceptDrops(true);
    row->setProperty("digit", digit);
    row->installEventFilter(this);
}

bool FamilyImport::eventFilter(QObject *watched, QEvent *event)
{
    const QVariant digit = watched->property("digit");
    if (!digit.isValid())
        return QObject::eventFilter(watched, event);
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
    return QObject::eventFilter(watched, event);
}

} // namespace family
