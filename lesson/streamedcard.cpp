#include "lesson/streamedcard.h"

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's colour spaces are needed: its BGRX is Qt's RGB32, decoded in place"
#endif

namespace lesson {

namespace {
// libjpeg reports a broken file through error_exit, which must not return to it.
struct Failure
{
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void failed(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<Failure *>(info->err)->back, 1);
}

// A damaged but readable file is drawn as far as it goes, without a word on standard error.
void quiet(j_common_ptr, int) { }

struct Decoder
{
    jpeg_decompress_struct info {};
    Failure failure {};
    explicit Decoder(const QByteArray &jpeg)
    {
        info.err = jpeg_std_error(&failure.manager);
        failure.manager.error_exit = failed;
        failure.manager.emit_message = quiet;
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(jpeg.constData()),
            static_cast<unsigned long>(jpeg.size()));
    }
    ~Decoder() { jpeg_destroy_decompress(&info); }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;
};

// Whether the EXIF block in APP1 asks for the picture to be turned or mirrored (orientation other
// than 1): such a picture is read whole, where Qt turns it.
bool turnedByExif(const jpeg_saved_marker_ptr markers)
{
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        const unsigned char *d = m->data;
        const unsigned length = m->data_length;
        if (m->marker != JPEG_APP0 + 1 || length < 14 || memcmp(d, "Exif\0\0", 6) != 0)
            continue;
        const unsigned char *tiff = d + 6;
        const unsigned size = length - 6;
        const bool little = tiff[0] == 'I';
        auto u16 = [&](unsigned at) {
            return at + 2 > size ? 0u
                : little         ? unsigned(tiff[at] | tiff[at + 1] << 8)
                                 : unsigned(tiff[at] << 8 | tiff[at + 1]);
        };
        auto u32 = [&](unsigned at) {
            return at + 4 > size ? 0u
                : little         ? u16(at) | u16(at + 2) << 16
                                 : u16(at) << 16 | u16(at + 2);
        };
        const unsigned ifd = u32(4);
        const unsigned entries = u16(ifd);
        for (unsigned i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= size; ++i) {
            const unsigned entry = ifd + 2 + 12 * i;
            if (u16(entry) == 0x0112)
                return u16(entry + 8) > 1;
        }
    }
    return false;
}
} // namespace

QSize streamableJpegSize(const QByteArray &jpeg)
{
    // A file cut short would be drawn half grey; a whole JPEG closes with its end-of-image
    // marker, allowing for a little padding.
    if (!jpeg.startsWith("\xff\xd8") || !jpeg.right(64).contains("\xff\xd9"))
        return {};
    Decoder decoder(jpeg);
    if (setjmp(decoder.failure.back))
        return {};
    jpeg_save_markers(&decoder.info, JPEG_APP0 + 1, 0xffff);
    if (jpeg_read_header(&decoder.info, TRUE) != JPEG_HEADER_OK)
        return {};
    // A progressive file holds all its coefficients while it is read, more than the picture.
    if (decoder.info.progressive_mode
        || (decoder.info.num_components != 1 && decoder.info.num_components != 3)
        || turnedByExif(decoder.info.marker_list))
        return {};
    return QSize(int(decoder.info.image_width), int(decoder.info.image_height));
}

namespace {
// Draws JPEG, of SIZE pixels, scaled smoothly into TARGET (logical pixels), decoding a band of
// rows at a time straight into the painter's device, and stopping once the rows that meet NEEDED
// are drawn.
void drawStreamed(QPainter &painter, const QByteArray &jpeg, QSize size, const QRectF &target,
    const QRectF &needed)
{
    // Rows are decoded a band at a time, with a margin of rows above and below that smooth
    // scaling reads too; only the band's own rows are drawn, so that no seam shows between bands.
    constexpr int bandRows = 48;
    constexpr int margin = 2;
    QImage band(size.width(), bandRows + 2 * margin, QImage::Format_RGB32);
    Decoder decoder(jpeg);
    if (setjmp(decoder.failure.back))
        return;
    jpeg_read_header(&decoder.info, TRUE);
    decoder.info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&decoder.info);
    if (int(decoder.info.output_width) != size.width()
        || int(decoder.info.output_height) != size.height())
        return;
    const qreal perRow = target.height() / size.height();
    const qreal toRow = needed.bottom();
    // The band holds the file's rows from FIRST on, FILLED of them.
    int first = 0, filled = 0;
    while (first + filled < size.height()) {
        while (
            filled < band.height() && decoder.info.output_scanline < decoder.info.output_height) {
            JSAMPROW row = band.scanLine(filled);
            filled += int(jpeg_read_scanlines(&decoder.info, &row, 1));
        }
        const bool last = first + filled >= size.height();
        const int from = first == 0 ? 0 : first + margin;
        const int to = last ? first + filled : first + filled - margin;
        const QRectF own(
            target.left(), target.top() + from * perRow, target.width(), (to - from) * perRow);
        if (own.intersects(needed)) {
            painter.save();
            painter.setClipRect(own, Qt::IntersectClip);
            const QImage rows(
                band.constBits(), band.width(), filled, band.bytesPerLine(), QImage::Format_RGB32);
            painter.drawImage(QRectF(target.left(), target.top() + first * perRow, target.width(),
                                  filled * perRow),
                rows);
            painter.restore();
        }
        if (last || own.bottom() >= toRow)
            return;
        // The margin's rows and the band's last own rows are read again by the next band.
        const int keep = 2 * margin;
        for (int k = 0; k < keep; ++k)
            memcpy(band.scanLine(k), band.constScanLine(filled - keep + k),
                size_t(band.bytesPerLine()));
        first += filled - keep;
        filled = keep;
    }
}
} // namespace

StreamedPicture::StreamedPicture(QLabel *label)
    : QObject(label)
    , m_label(label)
{
    label->installEventFilter(this);
}

void StreamedPicture::show(QByteArray jpeg, QSize pixels, QSizeF shown)
{
    m_jpeg = std::move(jpeg);
    m_pixels = pixels;
    m_shown = shown;
    m_label->update();
}

void StreamedPicture::clear()
{
    m_jpeg.clear();
    m_jpeg.squeeze();
}

bool StreamedPicture::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_label || event->type() != QEvent::Paint || m_jpeg.isEmpty())
        return QObject::eventFilter(watched, event);
    QPainter painter(m_label);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    drawStreamed(painter, m_jpeg, m_pixels, QRectF(QPointF(0, 0), m_shown),
        QRectF(static_cast<QPaintEvent *>(event)->rect()));
    return true;
}

} // namespace lesson
