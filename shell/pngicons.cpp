#include "shell/pngicons.h"

#include <QImageReader>
#include <QtGui/private/qicon_p.h>

namespace {
// Qt's own engine for icons made of pictures, which chooses among them by size and scale and
// draws the disabled look; only the reading of a file is this one's.
class PngIconEngine : public QPixmapIconEngine
{
public:
    PngIconEngine() = default;
    PngIconEngine(const PngIconEngine &) = default;

    // A size named with the file is the size the file is said to have: the picture is kept at
    // its own, which is what Qt's engine chooses by once it has read it.
    void addFile(
        const QString &fileName, const QSize &, QIcon::Mode mode, QIcon::State state) override
    {
        if (const QImage image = readPng(fileName); !image.isNull())
            addPixmap(QPixmap::fromImage(image), mode, state);
    }

    QIconEngine *clone() const override { return new PngIconEngine(*this); }
};
} // namespace

QIconEngine *PngIcons::create(const QString &fileName)
{
    auto *engine = new PngIconEngine;
    if (!fileName.isEmpty())
        engine->addFile(fileName, QSize(), QIcon::Normal, QIcon::Off);
    return engine;
}

QImage readPng(const QString &file)
{
    QImageReader reader(file, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}
