#include "family/familywindow.h"

#include "family/familyfiles.h"
#include "family/voice.h"
#include "lesson/media.h"
#include "lesson/sound.h"
#include "ui_digitrow.h"
#include "ui_familywindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QThreadPool>

namespace family {

namespace {
using namespace std::chrono_literals;

const char *const words[]
    = { "zero", "uno", "due", "tre", "quattro", "cinque", "sei", "sette", "otto", "nove" };
// Shorter than any number's name.
constexpr qint64 shortestPress = 300;
// How long the microphone may take to open or to close before the parent is told.
constexpr auto patience = 1s;
// X11 repeats a held key as a release and a press sent together, and Qt, which tells such a pair
// from a real release only when both have reached it, sometimes passes it on as real. A press
// coming this soon after a release is that pair: the key never left.
constexpr auto repeatPair = 50ms;
const QString nothingChanged = QStringLiteral(" Non è cambiato niente.");

int digitOf(const QKeyEvent *event)
{
    const QString text = event->text();
    return text.size() == 1 && text[0] >= u'0' && text[0] <= u'9' ? text[0].unicode() - u'0' : -1;
}
} // namespace

FamilyWindow::FamilyWindow(lesson::SdlSound &sound, const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::FamilyWindow>())
    , m_sound(sound)
    , m_installed(programFolder + u"/IMG")
{
    ui->setupUi(this);
    for (int d = 0; d <= 9; ++d) {
        auto row = std::make_unique<Ui::DigitRow>();
        auto *widget = new QWidget(this);
        row->setupUi(widget);
        row->digit->setText(QString::number(d));
        connect(row->digit, &QPushButton::pressed, this, [this, d] { startRecording(d); });
        connect(
            row->digit, &QPushButton::released, this, [this] { stopRecording(m_held.elapsed()); });
        connect(row->choosePhoto, &QPushButton::clicked, this, [this, d] { choosePhoto(d); });
        connect(row->programVoice, &QPushButton::clicked, this, [this, d] {
            forget(d, { QStringLiteral(".wav") },
                QStringLiteral("Il %1 ha di nuovo la voce del programma.").arg(d));
        });
        connect(row->programPicture, &QPushButton::clicked, this, [this, d] {
            forget(d, { QStringLiteral(".jpg"), QStringLiteral("@2x.jpg") },
                QStringLiteral("Il %1 ha di nuovo la figura del programma.").arg(d));
        });
        ui->rows->addWidget(widget);
        m_rows.push_back(std::move(row));
        refresh(d);
    }
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    m_poll.setInterval(10ms);
    connect(&m_poll, &QTimer::timeout, this, &FamilyWindow::listenToMicrophone);
    m_noAnswer.setSingleShot(true);
    m_noAnswer.setInterval(patience);
    connect(&m_noAnswer, &QTimer::timeout, this, &FamilyWindow::giveUp);
    m_release.setSingleShot(true);
    m_release.setInterval(repeatPair);
    connect(&m_release, &QTimer::timeout, this, [this] { stopRecording(m_heldMs); });
    // The keys are the window's own: no button may keep them.
    setFocusPolicy(Qt::StrongFocus);
    setFocus();
}

// A microphone still open is closed by the sound thread when it ends.
FamilyWindow::~FamilyWindow() = default;

void FamilyWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Without a window manager nobody else gives the window the keyboard.
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    // The sound system loaded once the window is up, so that the first key held records at once.
    QTimer::singleShot(0, this, [this] { m_sound.start(); });
}

void FamilyWindow::keyPressEvent(QKeyEvent *event)
{
    const int digit = digitOf(event);
    if (event->key() == Qt::Key_Escape)
        close();
    else if (digit >= 0 && !event->isAutoRepeat() && digit == m_digit && m_release.isActive())
        m_release.stop();
    else if (digit >= 0 && !event->isAutoRepeat())
        startRecording(digit);
    else if (digit < 0)
        QWidget::keyPressEvent(event);
}

void FamilyWindow::keyReleaseEvent(QKeyEvent *event)
{
    // A held key repeats as releases and presses of its own; only the last release counts.
    if (digitOf(event) == m_digit && !event->isAutoRepeat()) {
        m_heldMs = m_held.elapsed();
        m_release.start();
    } else
        QWidget::keyReleaseEvent(event);
}

void FamilyWindow::startRecording(int digit)
{
    // One take at a time; what the window said of the last one stands until it has closed.
    if (m_microphone != Microphone::Closed)
        return;
    m_digit = digit;
    m_gaveUp = false;
    m_microphone = Microphone::Opening;
    m_held.start();
    m_sound.listen(true);
    m_poll.start();
    m_noAnswer.start();
    say(QStringLiteral("Registro il %1: di' «%2», poi lascia il tasto.")
            .arg(digit)
            .arg(QLatin1String(words[digit])));
}

void FamilyWindow::stopRecording(qint64 heldMs)
{
    if (m_microphone != Microphone::Opening && m_microphone != Microphone::Open)
        return;
    m_heldMs = heldMs;
    m_microphone = Microphone::Closing;
    m_sound.listen(false);
    if (!m_gaveUp)
        m_noAnswer.start();
}

void FamilyWindow::giveUp()
{
    m_gaveUp = true;
    say(QStringLiteral("Il microfono non risponde: controlla l'audio del computer e riprova.")
        + nothingChanged);
}

void FamilyWindow::listenToMicrophone()
{
    for (const lesson::Take &take : m_sound.microphone()) {
        if (take.state == lesson::Take::Open) {
            if (m_microphone == Microphone::Opening)
                m_microphone = Microphone::Open;
            if (!m_gaveUp)
                m_noAnswer.stop();
        } else if (take.state == lesson::Take::Failed) {
            m_noAnswer.stop();
            if (!m_gaveUp)
                say(QStringLiteral("Non riesco ad aprire il microfono: controlla che sia collegato "
                                   "e che l'audio del computer funzioni, poi riprova.")
                    + nothingChanged);
            m_gaveUp = true;
        } else if (m_microphone == Microphone::Closing) {
            m_poll.stop();
            m_noAnswer.stop();
            m_microphone = Microphone::Closed;
            if (!m_gaveUp)
                keep(m_digit, take.samples, m_heldMs);
        }
    }
}

void FamilyWindow::keep(int digit, const std::vector<qint16> &heard, qint64 heldMs)
{
    if (heldMs < shortestPress) {
        say(QStringLiteral("Troppo breve: tieni premuto il tasto mentre dici la parola.")
            + nothingChanged);
        return;
    }
    const std::vector<qint16> word = shapeWord(heard);
    if (word.empty()) {
        say(QStringLiteral(
                "Non ho sentito nessuna parola: parla più vicino al microfono e riprova.")
            + nothingChanged);
        return;
    }
    const QString file = familyFile(digit, QStringLiteral(".wav"));
    const QByteArray wav = wavFile(word);
    say(QStringLiteral("Salvo il %1…").arg(digit));
    inBackground([file, wav] { return saveWhole(file, wav); },
        [this, digit, file](const QString &failure) {
            if (!failure.isEmpty()) {
                say(QStringLiteral("Non riesco a salvare la registrazione: %1.").arg(failure)
                    + nothingChanged);
                return;
            }
            // Heard as the child will hear it.
            m_sound.suona(file);
            refresh(digit);
            say(QStringLiteral("Fatto: ecco il %1 come lo sentirà il bambino. Tieni premuto di "
                               "nuovo per rifarlo.")
                    .arg(digit));
        });
}

void FamilyWindow::choosePhoto(int digit)
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns << u"*." + QString::fromLatin1(format);
    const QString source
        = QFileDialog::getOpenFileName(this, QStringLiteral("Scegli una foto per il %1").arg(digit),
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
            QStringLiteral("Immagini (%1)").arg(patterns.join(u' ')));
    if (!source.isEmpty())
        usePhoto(digit, source);
    setFocus();
}

void FamilyWindow::usePhoto(int digit, const QString &source)
{
    say(QStringLiteral("Preparo la foto del %1…").arg(digit));
    const QString plainFile = familyFile(digit, QStringLiteral(".jpg"));
    const QString twiceFile = familyFile(digit, QStringLiteral("@2x.jpg"));
    inBackground(
        [source, plainFile, twiceFile]() -> QString {
            QByteArray plain, twice;
            QString reason;
            if (!photoFiles(source, &plain, &twice, &reason))
                return QStringLiteral("Non riesco ad aprire questa figura (%1).").arg(reason);
            // The sharp one first: the lesson takes it only where it is not older than the plain.
            QString failure = saveWhole(twiceFile, twice);
            if (failure.isEmpty())
                failure = saveWhole(plainFile, plain);
            return failure.isEmpty()
                ? QString()
                : QStringLiteral("Non riesco a salvare la foto: %1.").arg(failure);
        },
        [this, digit](const QString &failure) {
            refresh(digit);
            say(failure.isEmpty() ? QStringLiteral("Fatto: la foto del %1 è pronta.").arg(digit)
                                  : failure + nothingChanged);
        });
}

void FamilyWindow::forget(int digit, const QStringList &suffixes, const QString &done)
{
    inBackground(
        [digit, suffixes]() -> QString {
            for (const QString &suffix : suffixes) {
                QFile file(familyFile(digit, suffix));
                if (file.exists() && !file.remove())
                    return QStringLiteral("Non riesco a cancellare %1: %2.")
                        .arg(file.fileName(), file.errorString());
            }
            return {};
        },
        [this, digit, done](const QString &failure) {
            refresh(digit);
            say(failure.isEmpty() ? done : failure);
        });
}

void FamilyWindow::refresh(int digit)
{
    Ui::DigitRow &row = *m_rows[size_t(digit)];
    const bool ownVoice = QFile::exists(familyFile(digit, QStringLiteral(".wav")));
    const QString ownPicture = familyFile(digit, QStringLiteral(".jpg"));
    QString reason;
    QImage picture = lesson::readPicture(ownPicture, 1, 2, &reason);
    const bool hasOwnPicture = !picture.isNull();
    if (!hasOwnPicture)
        picture = lesson::readPicture(
            m_installed + u'/' + QString::number(digit) + u".jpg", 1, 2, &reason);
    const QSize thumbnail = row.picture->minimumSize() * devicePixelRatioF();
    QPixmap shown = QPixmap::fromImage(
        picture.scaled(thumbnail, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    shown.setDevicePixelRatio(devicePixelRatioF());
    row.picture->setPixmap(shown);
    row.whose->setText(
        (ownVoice ? QStringLiteral("Voce: la tua") : QStringLiteral("Voce: del programma")) + u'\n'
        + (hasOwnPicture ? QStringLiteral("Figura: la tua")
                         : QStringLiteral("Figura: del programma")));
    row.programVoice->setEnabled(ownVoice);
    row.programPicture->setEnabled(QFile::exists(ownPicture));
}

void FamilyWindow::say(const QString &text)
{
    ui->status->setText(text);
}

void FamilyWindow::inBackground(
    std::function<QString()> work, std::function<void(const QString &)> then)
{
    // The answer goes by way of the application object, which outlives this window: it is
    // given to the window only where the window is still there.
    QThreadPool::globalInstance()->start(
        [work = std::move(work), then = std::move(then), self = QPointer<FamilyWindow>(this)] {
            const QString answer = work();
            QMetaObject::invokeMethod(
                qApp,
                [then, self, answer] {
                    if (self)
                        then(answer);
                },
                Qt::QueuedConnection);
        });
}

} // namespace family
