#include "phonefiles.h"

#include "testkit.h"

#include <QProcess>
#include <QtEndian>

namespace testkit {

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0)
        return {};
    return program + u' ' + arguments.join(u' ') + u": "
        + QString::fromLocal8Bit(tool.readAllStandardError()) + tool.errorString();
}

namespace {
quint32 be32(const QByteArray &b, qsizetype at)
{
    return qFromBigEndian<quint32>(b.constData() + at);
}
} // namespace

// The HEIF file FILE as a phone held upright writes it: the picture stored lying, with an irot
// property that turns it a quarter anticlockwise to show. libheif's encoder writes none, so one is
// put in: a box in ipco, its association with the one picture in ipma, the sizes of the boxes
// around them, and iloc's offsets into mdat, which now begins 10 bytes later.
bool turnQuarter(const QString &file)
{
    QByteArray b = contentOf(file);
    if (b.size() < 64 || be32(b, 0) + 12 > quint32(b.size()))
        return false;
    qsizetype meta = be32(b, 0), iprp = -1, ipco = -1, ipma = -1, iloc = -1;
    for (qsizetype at = meta + 12; at < meta + be32(b, meta);) {
        const QByteArray type = b.mid(at + 4, 4);
        if (type == "iloc")
            iloc = at;
        if (type == "iprp") {
            iprp = at;
            ipco = at + 8;
            ipma = ipco + be32(b, ipco);
        }
        at += type == "iprp" ? 8 : be32(b, at);
        if (type == "iprp")
            at = ipma + be32(b, ipma);
    }
    if (iprp < 0 || iloc < 0 || b[iloc + 8] != 0 || b[ipma + 8] != 0 || be32(b, ipma + 12) != 1)
        return false; // not the simple file libheif 1.15 writes
    int properties = 0;
    for (qsizetype at = ipco + 8; at < ipco + be32(b, ipco); at += be32(b, at))
        ++properties;
    const auto grow = [&b](qsizetype box, int by) {
        qToBigEndian<quint32>(be32(b, box) + quint32(by), b.data() + box);
    };
    // iloc version 0: offset, length and base offset sizes, then one item of one extent.
    const int offsetSize = quint8(b[iloc + 12]) >> 4, baseSize = quint8(b[iloc + 13]) >> 4;
    if (offsetSize != 4 && baseSize != 4)
        return false;
    const qsizetype field = iloc + 16 + 2 + 2 + (baseSize == 4 ? 0 : baseSize + 2);
    qToBigEndian<quint32>(be32(b, field) + 10, b.data() + field);
    const qsizetype entry = ipma + 16; // item 1: its ID (2 bytes), count, associations
    b[entry + 2] = char(b[entry + 2] + 1);
    b.insert(entry + 3 + quint8(b[entry + 2]) - 1, char(0x80 | (properties + 1)));
    grow(ipma, 1);
    b.insert(ipco + be32(b, ipco), QByteArray("\0\0\0\x09irot\x01", 9));
    grow(ipco, 9);
    grow(iprp, 10);
    grow(meta, 10);
    return write(file, b);
}

bool flatPicture(const QString &file, int width, int height)
{
    const QString picture
        = QStringLiteral("color=red:s=%1x%2,pad=%1:%3:0:0:blue")
              .arg(QString::number(width), QString::number(height / 2), QString::number(height));
    return runTool(QStringLiteral("ffmpeg"),
        args("-v error -y -f lavfi -i") << picture << args("-frames:v 1 -pix_fmt yuvj420p") << file)
        .isEmpty();
}

bool claimSize(const QString &file, quint32 width, quint32 height)
{
    QByteArray b = contentOf(file);
    const qsizetype ispe = b.indexOf("ispe");
    if (ispe < 4 || ispe + 16 > b.size())
        return false;
    qToBigEndian<quint32>(width, b.data() + ispe + 8);
    qToBigEndian<quint32>(height, b.data() + ispe + 12);
    return write(file, b);
}

} // namespace testkit
