#include "family/italian.h"

#include <QLocale>
#include <cerrno>
#include <cstring>

namespace family {

namespace {
// A number takes the article of its name: lo zero, l'uno, l'otto, il due.
struct Articles
{
    const char16_t *the, *capitalThe, *of;
};
const Articles &articlesOf(int digit)
{
    static constexpr Articles z { u"lo ", u"Lo ", u"dello " }, vowel { u"l'", u"L'", u"dell'" },
        other { u"il ", u"Il ", u"del " };
    return digit == 0 ? z : digit == 1 || digit == 8 ? vowel : other;
}
} // namespace

QString theDigit(int digit, bool capital)
{
    const Articles &articles = articlesOf(digit);
    return QString::fromUtf16(capital ? articles.capitalThe : articles.the)
        + QString::number(digit);
}

QString ofTheDigit(int digit)
{
    return QString::fromUtf16(articlesOf(digit).of) + QString::number(digit);
}

QString seconds(double seconds)
{
    return QLocale(QLocale::Italian).toString(seconds, 'f', 1);
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
