#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QWidget;
namespace lesson {
class SdlSound;
}

namespace family {

class CutPanel;
class Decoding;

// Whether the picture FILE is read by the decoding process (HEIC, AVIF), not by Qt; by its name.
bool readByDecoder(const QString &file);

// Files from elsewhere for the parent's window: a voice message or a phone's memo, read by the
// decoding process and cut to its word in the panel; a photo, chosen, dropped on a digit's row or
// handed to the program. It decides nothing about the family's files: what is to be kept goes to
// the window, which keeps it as it keeps a recording.
class FamilyImport : public QObject
{
    Q_OBJECT
public:
    // Makes a photo's two files, or says why it cannot.
    using PhotoMaker = std::function<bool(QByteArray *plain, QByteArray *twice, QString *reason)>;

    // WINDOW is where the dialogs open and what is dropped lands; PANEL is where sounds are cut.
    FamilyImport(lesson::SdlSound &sound, CutPanel *panel, QWidget *window);

    void choosePhoto(int digit);
    void chooseSound(int digit);
    // Makes DIGIT's picture from the picture file SOURCE, as choosing it in the dialog does.
    void usePhoto(int digit, const QString &source);
    // Reads the sound file SOURCE and shows it to be cut, for DIGIT (-1: the parent is asked
    // which), as choosing it in the dialog does.
    void useSound(int digit, const QString &source);
    // A file handed to the program ("Apri con…"): a sound to be cut, or a picture, for a digit
    // still to be chosen.
    void open(const QString &file);
    // A take just recorded, shown so that it can be cut tighter.
    void showTake(int digit, const std::vector<qint16> &heard);
    // A file dropped on ROW is for DIGIT.
    void takeDrops(QWidget *row, int digit);

    Decoding &decoding() { return *m_sounds; }
    Decoding &pictures() { return *m_pictures; }

Q_SIGNALS:
    void said(const QString &text);
    // A piece of a sound, cut and levelled, to be kept as DIGIT's word.
    void keepWord(int digit, const std::vector<qint16> &word);
    void keepPhoto(int digit, const family::FamilyImport::PhotoMaker &make);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void decoded(const std::vector<qint16> &samples, const QString &note);

    QWidget *m_window;
    CutPanel *m_panel;
    Decoding *m_sounds;
    Decoding *m_pictures;
    int m_pictureFor = -1; // the digit the picture being read is for
    QString m_pictureName; // its name: a sound may be read meanwhile
    int m_readingFor = -1; // the digit the sound file being read is for
    QString m_reading; // its name
};

} // namespace family
