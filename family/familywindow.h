#pragma once

#include "family/familyfiles.h"
#include "family/familyimport.h"
#include "lesson/media.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class FamilyWindow;
class DigitRow;
} // namespace Ui
namespace lesson {
class SdlSound;
}

namespace family {

class Recorder;

// The parent's window: holding a digit's key (or its button) records the word, which is then
// kept in the family's folder and played back; a photo can be chosen for each digit; either goes
// back to the program's own, and the last change of each digit can be undone while the window is
// open. What goes wrong is said in a sentence, and leaves the files as they were. Nothing here
// waits on the sound server or the disk: both answer through the event loop.
// Said after a change that failed, or was not made: the family's files are as they were.
QString nothingChanged();

class FamilyWindow : public QWidget
{
    Q_OBJECT
public:
    // programFolder is where the program's own IMG folder is.
    explicit FamilyWindow(
        lesson::SdlSound &sound, const QString &programFolder, QWidget *parent = nullptr);
    ~FamilyWindow() override;

    // A file handed to the program ("Apri con…"): a sound to be cut, or a picture, for a digit
    // still to be chosen.
    void open(const QString &file);
    // Files from elsewhere: voice messages and photos.
    FamilyImport &import() { return *m_import; }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    // What a change of the family's files came to: why it failed, or the files as they were.
    struct Outcome
    {
        QString failure;
        FileChanges before;
    };

    // Makes CHANGES; FAILED, with the reason, is what the parent is told where they cannot be.
    static Outcome changeFiles(const FileChanges &changes, const QString &failed);
    void keep(int digit, const std::vector<qint16> &heard, const QString &why);
    // Saves WORD, ready to play, as DIGIT's word; FIRST is said before what becomes of it. A word
    // just RECORDED can be done over by holding the key again; a piece of a file cannot.
    void saveWord(int digit, const std::vector<qint16> &word, const QString &first, bool recorded);
    // Saves the photo MAKE makes as DIGIT's picture.
    void savePhoto(int digit, const FamilyImport::PhotoMaker &make);
    void forget(int digit, const QStringList &suffixes, const QString &done);
    void undo(int digit);
    // Runs WORK off this thread; where it changed the files, says DONE and keeps what they were
    // for "Annulla" where UNDOABLE, then runs THEN.
    void change(int digit, std::function<Outcome()> work, const QString &done, bool undoable,
        std::function<void()> then = {});
    // Shows DIGIT's row as its files are, reading them again only where they changed.
    void refresh(int digit, bool always = false);
    void say(const QString &text);
    // The locked full screen: the parent's choice, and what this desktop lets it lock.
    void showLock();
    void chooseFullScreen(bool on);

    std::unique_ptr<Ui::FamilyWindow> ui;
    std::vector<std::unique_ptr<Ui::DigitRow>> m_rows;
    lesson::SdlSound &m_sound;
    Recorder *m_recorder;
    FamilyImport *m_import;
    QString m_installed;
    std::array<std::optional<FileChanges>, 10> m_previous; // what "Annulla" puts back
    std::array<std::array<lesson::FileIdentity, 2>, 10> m_shown {}; // the files each row shows
};

} // namespace family
