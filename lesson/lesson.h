#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

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
// character is shown with a warning; Esc says goodbye and ends the program.
class Lesson
{
public:
    Lesson(const Controls &controls, Sound &sound, const QString &programFolder,
        std::function<void()> endProgram);

    void Text1_KeyPress(const QString &KeyAscii);

private:
    QString mediaFile(const QString &digit, QStringView suffix) const;
    void showPicture(const QString &digit);
    void tell(QMessageBox::Icon icon, const QString &title, const QString &text);

    Controls m_controls;
    Sound &m_sound;
    QString m_programFolder;
    std::function<void()> m_endProgram;
};

} // namespace lesson
