#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace lesson {

// The most a picture is shown at, in logical pixels: the cards' own size.
inline constexpr QSize pictureBox(460, 260);

// Reads FILE for the picture box: whole and upright (its EXIF orientation applied), scaled down
// to fit the box where it is larger, in as many pixels as a screen of SCREENRATIO (1 or 2) shows
// sharp. FILERATIO is how many of its pixels make one logical pixel (2 for an @2x file). Decoded
// scaled, so a phone's photo costs little more than a card. Null, with the reason, where FILE
// cannot be shown; never blocks on a FIFO or a device node.
QImage readPicture(const QString &file, int fileRatio, int screenRatio, QString *reason);

} // namespace lesson
