#include "family/italian.h"

#include <cerrno>
#include <cstring>

namespace family {

namespace {
// Numbers take the article of their name: lo zero, l'uno, l'otto, il due.
enum class Initial { Z, Vowel, Other };
Initial initialOf(int digit)
{
    return digit == 0 ? Initial::Z : digit == 1 || digit == 8 ? Initial::Vowel : Initial::Other;
}
} // namespace

QString theDigit(int digit, bool capital)
{
    const QString number = QString::number(digit);
    switch (initialOf(digit)) {
    case Initial::Z:
        return (capital ? u"Lo " : u"lo ") + number;
    case Initial::Vowel:
        return (capital ? u"L'" : u"l'") + number;
    case Initial::Other:
        break;
    }
    return (capital ? u"Il " : u"il ") + number;
}

QString ofTheDigit(int digit)
{
    const QString number = QString::number(digit);
    switch (initialOf(digit)) {
    case Initial::Z:
        return u"dello " + number;
    case Initial::Vowel:
        return u"dell'" + number;
    case Initial::Other:
        break;
    }
    return u"del " + number;
}

QString systemError(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("il disco è pieno");
    case EDQUOT:
        return QStringLiteral("hai finito lo spazio che ti spetta sul disco");
    case EFBIG:
        return QStringLiteral("il file sarebbe più grande di quanto il sistema permette");
    case EROFS:
        return QStringLiteral("il disco si può solo leggere");
    case EACCES:
    case EPERM:
        return QStringLiteral("non hai il permesso di scrivere nella cartella");
    case EIO:
        return QStringLiteral("il disco non risponde come dovrebbe");
    case ENOENT:
        return QStringLiteral("la cartella non c'è più");
    default:
        return QStringLiteral("errore del sistema, «%1»")
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace family
