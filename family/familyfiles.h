#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>
#include <vector>

namespace family {

// The family's file for DIGIT: its name in the family's folder, with SUFFIX (".wav", ".jpg",
// "@2x.jpg").
QString familyFile(int digit, const QString &suffix);

// What a file is to hold: these bytes, or nothing (the file removed).
struct FileChange
{
    QString file;
    std::optional<QByteArray> bytes;
};
using FileChanges = std::vector<FileChange>;

// Makes CHANGES all or none: each file is written whole beside its name, readable by the user
// alone, and only once every one is written are they renamed over the old ones, sharing one
// time. BEFORE, where given, receives the files as they stood, to be put back the same way.
// Empty where it is done, else what went wrong, in Italian; then nothing has changed.
QString changeTogether(const FileChanges &changes, FileChanges *before = nullptr);

// The picture box's two JPEGs, at 1x and 2x, made from the picture SOURCE: whole and upright,
// scaled down to fit the box with its proportions kept, transparent parts on the cards' ground.
// False, with the reason, where SOURCE is not a picture that can be read.
bool photoFiles(const QString &source, QByteArray *plain, QByteArray *twice, QString *reason);
// The same of a picture already decoded and upright, whose proportions are SIZE's.
void photoFiles(const QImage &upright, QSize size, QByteArray *plain, QByteArray *twice);
// The largest a picture needs decoding at to make them.
QSize photoDecodeSize();

} // namespace family
