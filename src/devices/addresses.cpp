#include "devices/addresses.h"

#include <algorithm>

namespace tarvelo::devices {

namespace {

// The leading digits of a text as a number, blanks skipped, as a lenient numeric read does.
int leadingNumber(const QString& text)
{
    qint64 value = 0;
    bool seen = false;
    for (QChar c : text) {
        if (c == u' ' && !seen)
            continue;
        if (c < u'0' || c > u'9')
            break;
        seen = true;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 999999)
            break;
    }
    return int(value);
}

bool octets(const QString& text, quint32& out)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    quint32 v = 0;
    for (const QString& p : parts) {
        bool ok = false;
        const uint n = p.toUInt(&ok);
        if (!ok || n > 255)
            return false;
        v = v << 8 | n;
    }
    out = v;
    return true;
}

}  // namespace

QString Ip_Part3(const QString& address)
{
    if (address.count(u'.') != 3)
        return QStringLiteral("000");
    const QString third = address.section(u'.', 2, 2);
    return QString::number(leadingNumber(third)).rightJustified(3, u'0');
}

QString Get_Local_Ip(const QStringList& addresses)
{
    QString last;
    for (const QString& a : addresses)
        if (!a.startsWith(QLatin1String("127.")))
            last = a;
    return last;
}

void sortByOctets(QStringList& addresses)
{
    std::stable_sort(addresses.begin(), addresses.end(), [](const QString& a, const QString& b) {
        quint32 x = 0, y = 0;
        const bool okA = octets(a, x);
        const bool okB = octets(b, y);
        if (okA != okB)
            return okA;
        return okA && x < y;
    });
}

}  // namespace tarvelo::devices
