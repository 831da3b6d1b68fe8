#pragma once

#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace testkit {

// FILE's bytes; "missing" where it cannot be read.
QByteArray contentOf(const QString &file);
// Makes FILE hold BYTES, making its folder where it is missing.
bool write(const QString &file, const QByteArray &bytes);

// The build's media folder, as the program finds it beside its executable.
QString builtMedia();
// Copies the built media into FOLDER/IMG, making FOLDER as needed.
void copyMedia(const QString &folder);

// FILE's permission bits; -1 where it is not there.
int mode(const QString &file);
// Runs WORK with files able to grow to ROOM bytes alone (0: no limit), as on a disk that fills: a
// write past it fails with EFBIG, SIGXFSZ ignored. It needs no root and no mount; nothing else in
// this process writes a file meanwhile.
void withRoom(unsigned long room, const std::function<void()> &work);

// A phone's photo of 3000 x 4000, upright red above and blue below, as a camera held upright
// writes it: stored lying down, with EXIF's orientation 6 (turn 90 degrees clockwise to show).
QByteArray phonePhoto();

QByteArray png(const QImage &picture);
// A PNG of 300 x 200 whose left third is transparent, the rest red above and blue below.
QByteArray transparentPicture();
// The header of a picture of 20000 x 20000 pixels: a few bytes that would unpack to 1.6 GB.
QByteArray hugePicture();

// A message box as the child saw it.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QRect place; // where it stood, in screen coordinates
};

// The message box open for the keys now, a window of its own or one drawn inside another.
QMessageBox *openBox();

// For as long as it lives, presses OK on every modal box that opens, as a child would, and notes
// what each one showed.
class BoxCloser
{
public:
    BoxCloser();
    const QList<SeenBox> &boxes() const { return *m_boxes; }

private:
    std::shared_ptr<QList<SeenBox>> m_boxes;
    std::unique_ptr<QTimer> m_poll;
};

// Types TEXT, a key press and its release, into the widget that has the keyboard, as a child does;
// gives the boxes that opened meanwhile.
QList<SeenBox> press(const QString &text, Qt::KeyboardModifiers modifiers = {});

// Sends a key as X would, TYPE a press or a release, to the widget that has the keyboard; REPEAT
// where it is one of a held key's.
void key(QEvent::Type type, Qt::Key code, const QString &text = {}, bool repeat = false);

// A player that plays nothing, and notes each word asked of it as "file or standIn".
class NotingSound : public lesson::Sound
{
public:
    void suona(const QString &file, const QString &standIn) override
    {
        played << file + u" or " + standIn;
    }
    QStringList played;
};

// The lesson's window as the program opens it, its IMG folder in PROGRAMFOLDER, its words noted.
class LessonWindow
{
public:
    explicit LessonWindow(const QString &programFolder = QStringLiteral(NUMERI_BUILD_DIR));
    // Shows it locked in lock::FullScreen, or plain; whether it then came to have the keyboard in
    // its key catcher within TIMEOUT ms, as a child finds it.
    bool show(bool locked, int timeout = 5000);

    Form1 *form() const { return m_form; }
    QLabel *label() const { return m_form->findChild<QLabel *>(QStringLiteral("Label1")); }
    QLabel *picture() const { return m_form->findChild<QLabel *>(QStringLiteral("Picture1")); }
    QLineEdit *catcher() const { return m_form->findChild<QLineEdit *>(QStringLiteral("Text1")); }
    NotingSound sound; // outlives the form, which plays on it

private:
    Form1 *m_form;
    std::unique_ptr<QWidget> m_window; // the form, or the full screen holding it
};

} // namespace testkit

// A test's main() on the program's own application, with its Italian texts for Qt's.
#define NUMERI_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        Application app(argc, argv);                                                               \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
