#pragma once

#include "lesson/media.h"
#include "lesson/streamedcard.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;

namespace lesson {

class Sound;

// The window's controls that the lesson changes; the window owns them.
struct Controls
{
    QLabel *Label1; // shows the typed character
    QLabel *Picture1; // shows the digit's picture
    QLineEdit *Text1; // the key catcher, which must keep the keyboard
};

// How wide a window must be for TITLE to show whole in a desktop's title bar.
int titleBarWidth(const QString &title);

// What happens when the child presses a key: the digit is shown, heard and pictured; any other
// character is shown with a warning; Esc says goodbye and ends the program. A digit's recording
// and picture come from the family's folder where it has them, else from the program's IMG.
class Lesson
{
public:
    Lesson(const Controls &controls, Sound &sound, const QString &programFolder,
        std::function<void()> endProgram);

    void Text1_KeyPress(const QString &KeyAscii);

    // Reads the family's large photos ahead, so that the first key finds them ready.
    void readAhead();

    // Draws the picture shown again, from the file that suits SCREEN, the device pixel ratio the
    // window has or is about to have.
    void rescaled(qreal screen);

    // Makes the boxes the lesson opens; by default each is a window of its own, over the lesson's.
    using BoxMaker = std::function<std::unique_ptr<QMessageBox>(
        QMessageBox::Icon icon, const QString &title, const QString &text)>;
    void setBoxMaker(BoxMaker maker) { m_boxMaker = std::move(maker); }

private:
    void showPicture(const QString &digit, qreal screen);
    bool showStreamed(const QString &file, int fileRatio, qreal screen);
    void placePicture(QSize size);
    std::unique_ptr<QMessageBox> makeBox(
        QMessageBox::Icon icon, const QString &title, const QString &text) const;
    void tell(QMessageBox::Icon icon, const QString &title, const QString &text);

    Controls m_controls;
    Sound &m_sound;
    QString m_installed; // the program's own IMG folder
    QString m_family; // the family's, whose files come first
    std::function<void()> m_endProgram;
    PictureStore m_pictures;
    QString m_pictured; // the digit whose picture is shown, if any
    BoxMaker m_boxMaker;
    QPointer<StreamedPicture> m_streamed; // the label's own, drawing from a file's bytes
};

} // namespace lesson
