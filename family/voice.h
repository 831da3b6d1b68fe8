#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace family {

// Where a word lies in a sound: samples BEGIN up to END; empty where there is none.
struct Span
{
    size_t begin = 0;
    size_t end = 0;
    bool operator==(const Span &) const = default;
};

// The part of a recording that holds sound, with a little room around it: what a take keeps.
Span voicedSpan(const std::vector<qint16> &heard);
// The last word-sized stretch of sound in a message of several words ("Ciao! Questo è il sette.
// Sette!"), with the same room around it; where none is word-sized, all of its sound.
Span lastWord(const std::vector<qint16> &message);
// PART of SOUND levelled to the loudness of the installed words, its ends faded; nothing else is
// cut. Empty where it holds no sound above the room's (measured over the whole of SOUND).
std::vector<qint16> levelWord(const std::vector<qint16> &sound, Span part);

// A parent's recording made into a word the lesson plays like its own: the silence before and
// after trimmed, levelled to the loudness of the installed words, its ends faded so that cutting
// it short gives no click. Empty where it holds no word (silence, or a steady noise alone).
std::vector<qint16> shapeWord(const std::vector<qint16> &heard);

// SAMPLES as a WAV file in the play format.
QByteArray wavFile(const std::vector<qint16> &samples);

} // namespace family
