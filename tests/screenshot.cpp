#include "screenshot.h"

#include <cstdlib>
// Xlib's names (None, Bool, Status) come last, after every Qt header.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace testkit {

QSize pointerSize(const QByteArray &display)
{
    Display *x = XOpenDisplay(display.constData());
    XFixesCursorImage *pointer = x ? XFixesGetCursorImage(x) : nullptr;
    const QSize size = pointer ? QSize(pointer->width, pointer->height) : QSize();
    if (pointer)
        XFree(pointer);
    if (x)
        XCloseDisplay(x);
    return size;
}

QRect boundsOf(const QImage &image, QRgb colour, int tolerance, QRect area)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    area &= rgb.rect();
    int left = area.right() + 1, right = -1, top = area.bottom() + 1, bottom = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = line[x];
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance
                && std::abs(qGreen(p) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(p) - qBlue(colour)) <= tolerance) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

double edgeEnergy(const QImage &image, QRect area)
{
    area.adjust(area.width() / 20, area.height() / 20, -area.width() / 20, -area.height() / 20);
    const QImage grey = image.copy(area).convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    qint64 count = 0;
    for (int y = 0; y + 1 < grey.height(); ++y) {
        const uchar *line = grey.constScanLine(y), *below = grey.constScanLine(y + 1);
        for (int x = 0; x + 1 < grey.width(); ++x) {
            const int across = line[x + 1] - line[x], down = below[x] - line[x];
            sum += across * across + down * down;
            ++count;
        }
    }
    return count ? sum / count : 0;
}

} // namespace testkit
