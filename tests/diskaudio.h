#pragma once

#include "lesson/wav.h"

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace testkit {

// SDL's disk driver writes what plays into a file, and reads the microphone from another. SDL 2
// keeps to the format the program asks for. SDL 3, which runs SDL 2 programs through
// sdl2-compat, opens its devices at 44100 Hz at least, with two channels out, and converts.
struct DiskFormat
{
    int rate = 0;
    int channels = 0;
    // Samples in the driver's file to one of the program's.
    int step() const { return channels * (rate / lesson::playRate); }
};
// As SDL says it, asked of its disk driver once, before the test opens a device.
DiskFormat diskFormat(bool microphone);

// Sound in the program's own format, as the driver's microphone is to read it.
QByteArray forMicrophone(const QByteArray &sound);
// How many times WORD is found in what the driver WROTE, sample for sample but for SDL 3's
// rounding, from whichever of its samples it begins.
int timesHeard(const QByteArray &written, const std::vector<qint16> &word);

// The installed 4, said quietly into a microphone held too far, between silences, with hiss.
std::vector<qint16> spokenFour();
// The loudness of a word as the program levels it: RMS over its voiced 10 ms windows.
double voicedLoudness(const std::vector<qint16> &word);

// A WAV file's samples in the program's format; none where it cannot be played.
std::vector<qint16> pcm(const QString &file);
QByteArray raw(const std::vector<qint16> &samples);

} // namespace testkit
