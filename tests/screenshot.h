#pragma once
// What an X or Wayland screen shows, read as a child would see it, and measured.

#include <QImage>

namespace testkit {

// The size, in pixels, of the pointer the X server at DISPLAY shows now.
QSize pointerSize(const QByteArray &display);

// The smallest rectangle of IMAGE, within AREA, holding every pixel whose channels are each within
// TOLERANCE of COLOUR's.
QRect boundsOf(const QImage &image, QRgb colour, int tolerance, QRect area);
// How sharp IMAGE's edges are within AREA, its border left out: the mean of the squared differences
// between neighbouring pixels. A picture enlarged past its pixels spreads each edge over more of
// them, and scores less.
double edgeEnergy(const QImage &image, QRect area);

} // namespace testkit
