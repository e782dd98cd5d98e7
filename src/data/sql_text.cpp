#include "data/sql_text.h"

namespace tarvelo::data {

QString sqlEscape(QStringView value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        switch (c.unicode()) {
        // Doubled, not backslash-escaped: a quote must close nothing even where a server's
        // sql_mode holds NO_BACKSLASH_ESCAPES.
        case u'\'': out += "''"; break;
        case u'\\': out += "\\\\"; break;
        case u'\0': out += "\\0"; break;
        // A lone control character in a statement is harmless but unreadable in logs and traces.
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case 0x1a: out += "\\Z"; break;
        default: out += c;
        }
    }
    return out;
}

QString sqlLiteral(QStringView value)
{
    return u'\'' + sqlEscape(value) + u'\'';
}

QString sqlLiteralOpen(QStringView value)
{
    return u'\'' + sqlEscape(value);
}

}  // namespace tarvelo::data
