#pragma once

#include <QString>

namespace family {

// DIGIT with its article, as Italian says it: "il 2", "l'8", "lo 0"; "Il 2", "L'8", "Lo 0" where
// CAPITAL.
QString theDigit(int digit, bool capital = false);
// "del 2", "dell'8", "dello 0".
QString ofTheDigit(int digit);

// SECONDS with one decimal, written as Italian writes it: "3,4".
QString seconds(double seconds);

// What went wrong in a call that set errno to ERROR, in Italian: the usual ones in words a parent
// knows, any other as the C library names it.
QString systemError(int error);

} // namespace family
