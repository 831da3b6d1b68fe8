#pragma once

#include <QIconEnginePlugin>
#include <QImage>

// The program's icons and pointer, and those of Qt's own style (the menu bar's, the boxes'), are
// PNG files, a format Qt reads itself. Yet to read a PNG file Qt first asks every image plugin
// whether it can, and so loads them all, with the TIFF, WebP and MNG decoders they bring, into
// the lesson as it starts. Icons from PNG files are made here instead, read as PNG at once.
class PngIcons : public QIconEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QIconEngineFactoryInterface_iid FILE "pngicons.json")

public:
    QIconEngine *create(const QString &fileName) override;
};

// A PNG file read as PNG, with no image plugin asked.
QImage readPng(const QString &file);
