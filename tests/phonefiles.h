#pragma once

#include <QString>
#include <QStringList>

// Files as phones and messengers make them, made at test time with Debian's own tools.
namespace testkit {

// A tool's arguments written as on a command line, none with a space in it.
inline QStringList args(const char *line)
{
    return QString::fromLatin1(line).split(u' ');
}

// Runs PROGRAM; empty where it ended well, else what it said.
QString runTool(const QString &program, const QStringList &arguments);

// The HEIF file FILE as a phone held upright writes it, see phonefiles.cpp; false where FILE is
// not the simple file libheif's encoder writes.
bool turnQuarter(const QString &file);

// A camera's picture of WIDTH x HEIGHT, red above and blue below, as a Y4M file for heif-enc:
// planes of one value each (4:2:0, the only kind its reader takes, in full-range BT.601 as it
// declares), which it takes as they are and encodes in moments. False where FFmpeg failed.
bool flatPicture(const QString &file, int width, int height);

// The HEIF file FILE made to claim a picture of WIDTH x HEIGHT in its size property; false where
// it has none.
bool claimSize(const QString &file, quint32 width, quint32 height);

} // namespace testkit
