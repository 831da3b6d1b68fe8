#include "family/familywindow.h"

#include "family/cutpanel.h"
#include "family/italian.h"
#include "family/recorder.h"
#include "family/voice.h"
#include "lesson/sound.h"
#include "lock/settings.h"
#include "ui_digitrow.h"
#include "ui_familywindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

namespace family {

namespace {

int digitOf(const QKeyEvent *event)
{
    const QString text = event->text();
    return text.size() == 1 && text[0] >= u'0' && text[0] <= u'9' ? text[0].unicode() - u'0' : -1;
}

// Runs WORK off the window's thread and gives its answer to THEN on CONTEXT's thread, where
// CONTEXT is still there. The answer goes by way of the application object, which outlives it.
// One work at a time, in the order asked: two changes of one digit's files must not cross. The
// thread belongs to the application, which waits for it at the end, so no change is cut off.
template<typename Answer>
void inBackground(
    QObject *context, std::function<Answer()> work, std::function<void(const Answer &)> then)
{
    static QThreadPool *const disk = [] {
        auto *pool = new QThreadPool(qApp);
        pool->setMaxThreadCount(1);
        return pool;
    }();
    disk->start(
        [work = std::move(work), then = std::move(then), self = QPointer<QObject>(context)] {
            const Answer answer = work();
            QMetaObject::invokeMethod(
                qApp,
                [then, self, answer] {
                    if (self)
                        then(answer);
                },
                Qt::QueuedConnection);
        });
}
} // namespace

QString nothingChanged()
{
    return QStringLiteral(" Non è cambiato niente.");
}

FamilyWindow::FamilyWindow(lesson::SdlSound &sound, const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::FamilyWindow>())
    , m_sound(sound)
    , m_recorder(new Recorder(sound, this))
    , m_installed(programFolder + u"/IMG")
{
    ui->setupUi(this);
    m_import = new FamilyImport(sound, ui->cutPanel, this);
    const auto idle = [this] { return !m_recorder->busy(); };
    for (int d = 0; d <= 9; ++d) {
        auto row = std::make_unique<Ui::DigitRow>();
        auto *widget = new QWidget(this);
        row->setupUi(widget);
        row->digit->setText(QString::number(d));
        connect(row->digit, &QPushButton::pressed, this,
            [this, d] { m_recorder->start(d, Recorder::Hand::Button); });
        connect(row->digit, &QPushButton::released, m_recorder, &Recorder::release);
        // Not while a take is under way, whose status must stand.
        // After the dialog, Tab goes on from where it was.
        connect(row->choosePhoto, &QPushButton::clicked, this, [this, d, idle] {
            if (!idle())
                return;
            m_import->choosePhoto(d);
            m_rows[size_t(d)]->choosePhoto->setFocus();
        });
        connect(row->chooseSound, &QPushButton::clicked, this, [this, d, idle] {
            if (!idle())
                return;
            m_import->chooseSound(d);
            m_rows[size_t(d)]->chooseSound->setFocus();
        });
        connect(row->listen, &QPushButton::clicked, this, [this, d] {
            m_sound.suona(familyFile(d, QStringLiteral(".wav")),
                m_installed + u'/' + QString::number(d) + u".wav");
        });
        m_import->takeDrops(widget, d);
        connect(row->programVoice, &QPushButton::clicked, this, [this, d, idle] {
            if (idle())
                forget(d, { QStringLiteral(".wav") },
                    theDigit(d, true) + u" ha di nuovo la voce del programma.");
        });
        connect(row->programPicture, &QPushButton::clicked, this, [this, d, idle] {
            if (idle())
                forget(d, { QStringLiteral(".jpg"), QStringLiteral("@2x.jpg") },
                    theDigit(d, true) + u" ha di nuovo la figura del programma.");
        });
        connect(row->undo, &QPushButton::clicked, this, [this, d, idle] {
            if (idle())
                undo(d);
        });
        ui->rows->addWidget(widget);
        m_rows.push_back(std::move(row));
    }
    // Tab goes through the rows first, and Chiudi last: the buttons come again into the window
    // after the rows, as Qt 6.4's setTabOrder will not put a widget behind the last one.
    ui->page->removeWidget(ui->buttons);
    ui->buttons->setParent(nullptr);
    ui->buttons->setParent(this);
    ui->page->addWidget(ui->buttons);
    for (int d = 0; d <= 9; ++d)
        refresh(d, true);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    showLock();
    connect(ui->fullScreen, &QCheckBox::toggled, this, &FamilyWindow::chooseFullScreen);
    connect(m_recorder, &Recorder::said, this, &FamilyWindow::say);
    connect(m_recorder, &Recorder::heard, this, &FamilyWindow::keep);
    connect(m_import, &FamilyImport::said, this, &FamilyWindow::say);
    connect(m_import, &FamilyImport::keepWord, this,
        [this](int digit, const std::vector<qint16> &word) { saveWord(digit, word, {}, false); });
    connect(m_import, &FamilyImport::keepPhoto, this, &FamilyWindow::savePhoto);
    // The lock's choice makes way while a sound is cut, so that the window fits a laptop's screen.
    connect(ui->cutPanel, &CutPanel::visibilityChanged, this, [this](bool cutting) {
        ui->fullScreen->setVisible(!cutting);
        ui->lockNote->setVisible(!cutting);
    });
    // The keys are the window's own: buttons pass on the digits they do not use.
    setFocusPolicy(Qt::StrongFocus);
    setFocus();
}

// A microphone still open is closed by the sound thread when it ends. From Qt 6.8 on, QWidget's
// own destructor hides the children, after this window's members are gone: the panel must not
// tell the window then.
FamilyWindow::~FamilyWindow()
{
    disconnect(ui->cutPanel, nullptr, this, nullptr);
}

void FamilyWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Without a window manager nobody else gives the window the keyboard.
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    // The sound system loaded once the window is up, so that the first key held records at once.
    QTimer::singleShot(0, this, [this] { m_sound.start(); });
}

void FamilyWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    if (isActiveWindow()) {
        // Another parent's window, or a file copied by hand, may have changed them meanwhile.
        for (int d = 0; d <= 9; ++d)
            refresh(d);
    } else {
        // Its release will go to another window.
        m_recorder->end(QStringLiteral("La finestra ha perso la tastiera, così ho smesso di "
                                       "registrare."));
    }
}

void FamilyWindow::keyPressEvent(QKeyEvent *event)
{
    const int digit = digitOf(event);
    if (event->key() == Qt::Key_Escape)
        close();
    else if (digit >= 0 && !event->isAutoRepeat() && !m_recorder->pressedAgain(digit))
        m_recorder->start(digit, Recorder::Hand::Key);
    else if (digit < 0)
        QWidget::keyPressEvent(event);
}

void FamilyWindow::keyReleaseEvent(QKeyEvent *event)
{
    // A held key repeats as releases and presses of its own; only the last release counts.
    if (digitOf(event) >= 0 && !event->isAutoRepeat())
        m_recorder->releaseSoon(digitOf(event));
    else
        QWidget::keyReleaseEvent(event);
}

FamilyWindow::Outcome FamilyWindow::changeFiles(const FileChanges &changes, const QString &failed)
{
    FamilyWindow::Outcome outcome;
    const QString failure = changeTogether(changes, &outcome.before);
    if (!failure.isEmpty())
        outcome.failure = failed.arg(failure);
    return outcome;
}

void FamilyWindow::keep(int digit, const std::vector<qint16> &heard, const QString &why)
{
    const QString first = why.isEmpty() ? QString() : why + u' ';
    const std::vector<qint16> word = shapeWord(heard);
    if (word.empty()) {
        say(first + u"Non ho sentito nessuna parola: parla più vicino al microfono e riprova."
            + nothingChanged());
        return;
    }
    // Kept as today; the panel lets the parent cut it otherwise.
    m_import->showTake(digit, heard);
    saveWord(digit, word, first, true);
}

void FamilyWindow::saveWord(
    int digit, const std::vector<qint16> &word, const QString &first, bool recorded)
{
    const QString file = familyFile(digit, QStringLiteral(".wav"));
    say(first + u"Salvo la parola " + ofTheDigit(digit) + u"…");
    change(
        digit,
        [changes = FileChanges { { file, wavFile(word) } }] {
            return changeFiles(
                changes, QStringLiteral("Non riesco a salvare la registrazione: %1."));
        },
        first + u"Fatto: ecco " + theDigit(digit) + u" come lo sentirà il bambino."
            + (recorded ? QStringLiteral(" Tieni premuto di nuovo per rifarlo.") : QString()),
        true, [this, file] { m_sound.suona(file); }); // heard as the child will hear it
}

void FamilyWindow::open(const QString &file)
{
    m_import->open(file);
}

void FamilyWindow::savePhoto(int digit, const FamilyImport::PhotoMaker &make)
{
    const FileChanges names = { { familyFile(digit, QStringLiteral(".jpg")), {} },
        { familyFile(digit, QStringLiteral("@2x.jpg")), {} } };
    change(
        digit,
        [make, names]() -> Outcome {
            QByteArray plain, twice;
            QString reason;
            if (!make(&plain, &twice, &reason))
                return { QStringLiteral("Non riesco ad aprire questa figura: %1.").arg(reason),
                    {} };
            return changeFiles({ { names[0].file, plain }, { names[1].file, twice } },
                QStringLiteral("Non riesco a salvare la foto: %1."));
        },
        u"Fatto: la foto " + ofTheDigit(digit) + u" è pronta.", true);
}

void FamilyWindow::forget(int digit, const QStringList &suffixes, const QString &done)
{
    FileChanges gone;
    for (const QString &suffix : suffixes)
        gone.push_back({ familyFile(digit, suffix), std::nullopt });
    change(
        digit,
        [gone] {
            return changeFiles(gone, QStringLiteral("Non riesco a cancellare il file: %1."));
        },
        done, true);
}

void FamilyWindow::undo(int digit)
{
    if (!m_previous[size_t(digit)])
        return;
    change(
        digit,
        [previous = *m_previous[size_t(digit)]] {
            return changeFiles(previous, QStringLiteral("Non riesco a rimettere com'era: %1."));
        },
        theDigit(digit, true) + u" è tornato com'era prima.", false);
}

void FamilyWindow::change(int digit, std::function<Outcome()> work, const QString &done,
    bool undoable, std::function<void()> then)
{
    inBackground<Outcome>(this, std::move(work), [=, this](const Outcome &outcome) {
        if (!outcome.failure.isEmpty()) {
            say(outcome.failure + nothingChanged());
            return;
        }
        m_previous[size_t(digit)] = undoable ? std::optional(outcome.before) : std::nullopt;
        // First, so that a word is heard before the row reads its photo again.
        if (then)
            then();
        refresh(digit);
        // A take begun meanwhile keeps its own status.
        if (!m_recorder->busy())
            say(done);
    });
}

void FamilyWindow::refresh(int digit, bool always)
{
    Ui::DigitRow &row = *m_rows[size_t(digit)];
    row.undo->setEnabled(m_previous[size_t(digit)].has_value());
    const QString ownVoice = familyFile(digit, QStringLiteral(".wav"));
    const QString ownPicture = familyFile(digit, QStringLiteral(".jpg"));
    const std::array<lesson::FileIdentity, 2> files
        = { lesson::fileIdentity(ownVoice), lesson::fileIdentity(ownPicture) };
    if (!always && files == m_shown[size_t(digit)])
        return;
    m_shown[size_t(digit)] = files;
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
    const bool hasOwnVoice = QFile::exists(ownVoice);
    row.whose->setText(
        // Theirs may be a grandparent's word, or a photo from a phone: chosen, not made, by them.
        (hasOwnVoice ? QStringLiteral("Voce: scelta da te") : QStringLiteral("Voce: del programma"))
        + u'\n'
        + (hasOwnPicture ? QStringLiteral("Figura: scelta da te")
                         : QStringLiteral("Figura: del programma")));
    row.programVoice->setEnabled(hasOwnVoice);
    row.programPicture->setEnabled(QFile::exists(ownPicture));
}

void FamilyWindow::showLock()
{
    const QSignalBlocker quiet(ui->fullScreen);
    ui->fullScreen->setChecked(lock::alwaysFullScreen());
    QString note = QGuiApplication::platformName() == u"wayland"
        ? QStringLiteral(
            "A schermo intero il gioco chiede al desktop di tenere per sé i suoi tasti: "
            "sway e KDE lo fanno; GNOME lo chiede a te la prima volta, con una sua "
            "finestra: rispondi tu, non il bambino (per GNOME Esc vuol dire no).")
        : QStringLiteral("A schermo intero il gioco prende per sé la tastiera e il mouse: i tasti "
                         "del desktop (Super, Alt+Tab, Alt+F4) non escono dal gioco.");
    note += u" Per uscire si tiene premuto Esc per 3 secondi. Ctrl+Alt+F1…F12 e il tasto di "
            u"accensione restano del sistema.";
    if (const QString last = lock::lastLock(); !last.isEmpty())
        note += u"\nL'ultima volta, " + last + u'.';
    ui->lockNote->setText(note);
}

void FamilyWindow::chooseFullScreen(bool on)
{
    inBackground<QString>(
        this, [on] { return lock::setAlwaysFullScreen(on); },
        [this, on](const QString &failure) {
            if (failure.isEmpty()) {
                say(on ? QStringLiteral("Fatto: il gioco si aprirà sempre a schermo intero.")
                       : QStringLiteral("Fatto: il gioco si aprirà in una finestra."));
                return;
            }
            const QSignalBlocker quiet(ui->fullScreen);
            ui->fullScreen->setChecked(!on);
            say(u"La scelta non è stata salvata: " + failure + u'.');
        });
}

void FamilyWindow::say(const QString &text)
{
    ui->status->setText(text);
}

} // namespace family
