#pragma once

#include "family/cutpanel.h"
#include "family/familywindow.h"
#include "lesson/sound.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

namespace testkit {

// The parent's window as its tests open it, afresh for each case: its data and its settings in
// folders of the case's own, named beyond ASCII, in a home that has no Downloads or Pictures yet;
// its sound through SDL's disk driver (what plays goes to speaker.raw, the microphone is mic.raw);
// the real numeri-decode, unless the case puts a stand-in in its place.
class FamilyFixture : public QObject
{
protected:
    void openWindow();
    void closeWindow();
    QString here(const QString &name) const { return m_dir.filePath(name); }
    // The case's data folder, known before its window opens.
    QString data() const;
    QString familyFile(const QString &name) const { return data() + u"/numeri/IMG/" + name; }
    QString status() const;
    family::CutPanel *panel() const { return m_window->findChild<family::CutPanel *>(); }
    // The button NAME of DIGIT's row, or of the cutting panel where DIGIT is -1.
    QPushButton *button(const char *name, int digit = -1) const;
    // Runs a Debian tool that makes a sample file: PROGRAM with the words of OPTIONS, where IN
    // stands for SOURCE and OUT for MADE.
    static void make(
        const QString &program, const QString &options, const QString &source, const QString &made);
    // The decoder a shell script of the LINES given, until the next case.
    void standIn(const QByteArray &lines);
    // FILE dragged onto DIGIT's row, taken, and dropped there, as from a file manager.
    void drop(const QString &file, int digit);

    QTemporaryDir m_dir;
    std::unique_ptr<lesson::SdlSound> m_sound;
    std::unique_ptr<family::FamilyWindow> m_window;
};

} // namespace testkit
