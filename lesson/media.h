#pragma once

#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <thread>

namespace lesson {

// The most a picture is shown at, in logical pixels: the cards' own size.
inline constexpr QSize pictureBox(460, 260);

// Reads FILE for the picture box: whole and upright (its EXIF orientation applied), scaled down
// to fit the box where it is larger, in as many pixels as a screen of SCREENRATIO (1 or 2) shows
// sharp. FILERATIO is how many of its pixels make one logical pixel (2 for an @2x file). Decoded
// scaled, so a phone's photo costs little more than a card. Null, with the reason, where FILE
// cannot be shown; never blocks on a FIFO or a device node.
QImage readPicture(const QString &file, int fileRatio, int screenRatio, QString *reason);

// A JPEG this large takes longer to read than a frame lasts, even decoded scaled: its every byte
// must still be unpacked. The cards and the photos the parent's window saves are far smaller.
inline constexpr qint64 largePicture = 256 * 1024;

// The ground of the cards: what a picture's transparent parts show on, not the black window.
inline constexpr QRgb cardGround = 0xfffff3c4;

// Whether READER's picture can be decoded within what one picture may cost in memory; where not,
// the reason. Checked before decoding: a PNG of a few kilobytes can unpack to gigabytes.
bool affordable(const QImageReader &reader, QString *reason);
// PICTURE on the cards' ground where it has transparent parts.
QImage onCard(const QImage &picture);

// READER's picture as it is shown, its EXIF orientation applied (setAutoTransform): turned a
// quarter, its width and height swap.
QSize uprightSize(const QImageReader &reader);
// Asks READER to decode straight to SIZE, given as the picture is shown upright.
void decodeUprightAt(QImageReader &reader, const QSize &size);

// FILE's device, inode, size, and change and modification times to the nanosecond: a file
// replaced, even by one of the same size and time, has another inode or change time. All zero
// where there is no file.
struct FileIdentity
{
    qint64 device = 0, inode = 0, size = 0, modified = 0, changed = 0;
    bool operator==(const FileIdentity &) const = default;
};
FileIdentity fileIdentity(const QString &file);

// Where a family keeps its own recordings and photos, under the installed IMG folder's names:
// each file there is used in place of the installed one.
QString familyFolder();

// Pictures too large to read within a frame (a phone's photo copied in by hand), kept scaled,
// upright and compressed again, for as long as their file is unchanged.
class PictureStore
{
public:
    PictureStore() = default;
    ~PictureStore();
    PictureStore(const PictureStore &) = delete;
    PictureStore &operator=(const PictureStore &) = delete;

    // As readPicture, from the store where FILE is unchanged since it was read.
    QImage read(const QString &file, int fileRatio, int screenRatio, QString *reason);
    // Reads the large ones of FILES on a thread of its own, so that the first key finds them ready.
    void readAhead(const QStringList &files, int screenRatio);

private:
    struct Kept
    {
        FileIdentity identity;
        int ratios;
        QByteArray jpeg;
        qreal devicePixelRatio;
    };
    QHash<QString, Kept> m_kept;
    std::mutex m_mutex; // over m_kept, never held while a picture is read
    std::atomic<bool> m_quit = false;
    std::thread m_ahead;
};

} // namespace lesson
