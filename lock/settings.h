#pragma once

#include <QString>

namespace lock {

// The parent's choice of a locked full screen for every start, kept with the user's settings
// ($XDG_CONFIG_HOME/numeri/numeri.ini).
QString settingsFile();
// Whether plain `numeri` starts locked. A file that cannot be read is no choice made, and says so.
bool alwaysFullScreen();
// Keeps the choice; the reason in Italian where it could not, else an empty string.
QString setAlwaysFullScreen(bool on);

// What the locked lesson last found it could lock, and when, for the parent's window; it blocks
// on the disk, so the lesson calls it off its window's thread.
void noteLock(const QString &outcome);
QString lastLock();

} // namespace lock
