#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>

class QPainter;
class QRectF;
class QLabel;

namespace lesson {

// The pixel size of JPEG where it can be drawn streamed: baseline, grey or colour, upright (no
// EXIF turn). Invalid otherwise, and for anything that is not a JPEG.
QSize streamableJpegSize(const QByteArray &jpeg);

// Draws JPEG scaled smoothly into TARGET (logical pixels), decoding a band of rows at a time
// straight into the painter's device, and stopping once the rows that meet NEEDED are drawn.
// Never holds the picture whole: at a fractional scale a 4K full screen's card would be 7 MiB
// decoded, and as much again while it is read, on top of the screen's own copy of it.
void drawStreamedJpeg(
    QPainter &painter, const QByteArray &jpeg, const QRectF &target, const QRectF &needed);

// Draws a picture on a label straight from its JPEG bytes at each paint, in place of a pixmap the
// label would keep decoded.
class StreamedPicture : public QObject
{
public:
    explicit StreamedPicture(QLabel *label);
    // Shows JPEG at SHOWN, its size in logical pixels, from the label's top left.
    void show(QByteArray jpeg, QSizeF shown);
    void clear();
    bool isEmpty() const { return m_jpeg.isEmpty(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_label;
    QByteArray m_jpeg;
    QSizeF m_shown;
};

} // namespace lesson
