#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>

class QLabel;

namespace lesson {

// The pixel size of JPEG where it can be drawn streamed: baseline, grey or colour, upright (no
// EXIF turn). Invalid otherwise, and for anything that is not a JPEG.
QSize streamableJpegSize(const QByteArray &jpeg);

// Draws a picture on a label straight from its JPEG bytes at each paint, in place of a pixmap the
// label would keep decoded: a band of rows at a time, scaled smoothly to the screen's pixels as it
// goes. At a fractional scale a 4K full screen's card would be 7 MiB decoded, and as much again
// while it is read, on top of the screen's own copy of it.
class StreamedPicture : public QObject
{
public:
    explicit StreamedPicture(QLabel *label);
    // Shows JPEG, of PIXELS as streamableJpegSize gave them, at SHOWN, its size in logical
    // pixels, from the label's top left.
    void show(QByteArray jpeg, QSize pixels, QSizeF shown);
    void clear();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_label;
    QByteArray m_jpeg;
    QSize m_pixels;
    QSizeF m_shown;
};

} // namespace lesson
