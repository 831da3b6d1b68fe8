#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace family {

// A parent's recording made into a word the lesson plays like its own: the silence before and
// after trimmed, levelled to the loudness of the installed words, its ends faded so that cutting
// it short gives no click. Empty where it holds no word (silence, or a steady noise alone).
std::vector<qint16> shapeWord(const std::vector<qint16> &heard);

// SAMPLES as a WAV file in the play format.
QByteArray wavFile(const std::vector<qint16> &samples);

} // namespace family
