#pragma once

#include <QByteArray>
#include <QString>

namespace family {

// The family's file for DIGIT: its name in the family's folder, with SUFFIX (".wav", ".jpg",
// "@2x.jpg").
QString familyFile(int digit, const QString &suffix);

// Writes BYTES as FILE, whole or not at all (written beside it, then renamed over it), readable by
// the user alone, in a folder made for the user alone where it is missing. Empty where it is
// done, else what went wrong, in Italian.
QString saveWhole(const QString &file, const QByteArray &bytes);

// The picture box's two JPEGs, at 1x and 2x, made from the picture SOURCE: turned upright, scaled
// and cut to the box's proportions around its middle. False, with the reason, where SOURCE is
// not a picture that can be read.
bool photoFiles(const QString &source, QByteArray *plain, QByteArray *twice, QString *reason);

} // namespace family
