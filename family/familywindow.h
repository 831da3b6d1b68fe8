#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class FamilyWindow;
class DigitRow;
} // namespace Ui
namespace lesson {
class SdlSound;
}

namespace family {

// The parent's window: holding a digit's key (or its button) records the word, which is then
// kept in the family's folder and played back; a photo can be chosen for each digit; either goes
// back to the program's own. What goes wrong is said in a sentence, and leaves the files as they
// were. Nothing here waits on the sound server or the disk: both answer through the event loop.
class FamilyWindow : public QWidget
{
    Q_OBJECT
public:
    // programFolder is where the program's own IMG folder is.
    explicit FamilyWindow(
        lesson::SdlSound &sound, const QString &programFolder, QWidget *parent = nullptr);
    ~FamilyWindow() override;

    // Makes DIGIT's picture from the picture file SOURCE, as choosing it in the dialog does.
    void usePhoto(int digit, const QString &source);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    enum class Microphone { Closed, Opening, Open, Closing };

    void startRecording(int digit);
    void stopRecording(qint64 heldMs);
    void listenToMicrophone();
    void giveUp();
    void keep(int digit, const std::vector<qint16> &heard, qint64 heldMs);
    void choosePhoto(int digit);
    void forget(int digit, const QStringList &suffixes, const QString &done);
    void refresh(int digit);
    void say(const QString &text);
    // Runs WORK on a thread of the pool and gives its answer to THEN on this window's thread.
    void inBackground(std::function<QString()> work, std::function<void(const QString &)> then);

    std::unique_ptr<Ui::FamilyWindow> ui;
    std::vector<std::unique_ptr<Ui::DigitRow>> m_rows;
    lesson::SdlSound &m_sound;
    QString m_installed;
    Microphone m_microphone = Microphone::Closed;
    int m_digit = -1; // the digit being recorded
    bool m_gaveUp = false; // this take has been given up, and said so
    QElapsedTimer m_held;
    qint64 m_heldMs = 0;
    QTimer m_poll; // looks at the microphone while a take is under way
    QTimer m_noAnswer; // gives a take up when the microphone does not answer
    QTimer m_release; // ends a take held on the keyboard, unless the key turns out still held
};

} // namespace family
