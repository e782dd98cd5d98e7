#pragma once
// Small helpers shared by the ledger, the resolution and the deletion passes.
#include "data/recordset.h"
#include "data/sql_text.h"
#include "records/table_list.h"

#include <QString>

#include <optional>

namespace tarvelo::sync::ledger {

// Ledger and record values come from other branches: every one goes into a statement quoted.
inline QString lit(const QString& value)
{
    return data::sqlLiteral(value);
}

// The value of a text's leading whole number, as flags and kinds are compared; 0 when there is none.
inline qint32 num(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t[end] == u'-' || t[end] == u'+'))
        ++end;
    while (end < t.size() && end < 10 && t[end].unicode() >= u'0' && t[end].unicode() <= u'9')
        ++end;
    bool ok = false;
    const qint32 v = t.left(end).toInt(&ok);
    return ok ? v : 0;
}

// Only rows about one of the synchronised tables are acted on: a table name read from the
// ledger goes into statements as a name, so it must be one we know.
inline bool isSynchronised(const QString& treco)
{
    for (const char16_t* name : records::synchronisedTables())
        if (treco == QStringView(name))
            return true;
    return false;
}

// A local row holding this branch's own change still to be sent.
inline bool ownPending(const data::Recordset& local, const QString& me)
{
    const QString synAdd = local.text(u"SynAdd");
    return local.text(u"No_Branch") == me && (synAdd == u"1" || synAdd == u"5");
}

// The family a row belongs to for the server's removal: record rows (0) or deletion rows (2).
inline qint16 familyOf(qint32 kin1)
{
    return (kin1 == 2 || kin1 == 3) ? 2 : 0;
}

// A ledger value as the text columns' collation compares it, for comparing in memory: trailing
// blanks dropped and letter case folded. Only ASCII letters, digits, '_' and '-' (digits alone
// with `digitsOnly`, whose order is then the column's too) are taken; anything else gives nullopt,
// as only the database can say what it equals.
inline std::optional<QString> collationKey(const QString& text, bool digitsOnly = false)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t c = text.at(i).unicode();
        const bool digit = c >= u'0' && c <= u'9';
        const bool other = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'-';
        if (!digit && (digitsOnly || !other))
            return std::nullopt;
    }
    return text.left(end).toLower();
}

// The failure texts of the passes.
inline const QString kConnectionError = QStringLiteral("خطاء بالاتصال تأكد من أتصال الانترنت");

}  // namespace tarvelo::sync::ledger
