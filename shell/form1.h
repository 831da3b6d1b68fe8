#pragma once

#include "lesson/lesson.h"

#include <QMainWindow>
#include <memory>

namespace Ui {
class Form1;
}
namespace lesson {
class Sound;
}

// The program's one window. Its look is the Designer form; its only behaviour is handing every
// character typed into the key catcher Text1 to the lesson.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    // programFolder is where the IMG media folder is looked for.
    Form1(lesson::Sound &sound, const QString &programFolder, QWidget *parent = nullptr);
    ~Form1() override;

    // Clears what is drawn on the window itself, then ends the program.
    void fine();

    // For the locked lesson: Esc leaves only when held, and the menu bar says so.
    void holdEscapeToLeave();

    // Reads the family's large photos ahead; for once the window has shown.
    void readAhead() { m_lesson->readAhead(); }

    // For a screen whose scale has changed under the window: the picture drawn again from the
    // file that suits SCREEN, the window's new device pixel ratio.
    void rescaled(qreal screen) { m_lesson->rescaled(screen); }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::Form1> ui;
    std::unique_ptr<lesson::Lesson> m_lesson;
};
