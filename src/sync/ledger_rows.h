#pragma once
// The acknowledgement ledger's row in names, and small helpers shared by the ledger update, the
// resolution and the deletion passes.
#include "data/recordset.h"
#include "data/sql_text.h"
#include "records/table_list.h"

#include <QString>

#include <optional>

namespace tarvelo::sync::ledger {

// ---- the values of kin1, kin2 and kin3 ------------------------------------------
// They are texts in the table and compared by the value of their leading number (num() below).

// kin1: the row's family (a record version or a deletion) and who posts it.
namespace kin1 {
inline constexpr qint32 Record = 0;          // the sending branch's announcement of a record version, later its closing
inline constexpr qint32 RecordAnswer = 1;    // another branch's answer about that version, later to its closing
inline constexpr qint32 Deletion = 2;        // the deleting branch's announcement of a deletion, later its closing
inline constexpr qint32 DeletionAnswer = 3;  // another branch's answer about that deletion, later to its closing
}

// kin2: the stage. On the announcer's row (kin1 Record or Deletion) the announcement, then the
// closing; an answer to a closing takes the closing's value.
namespace kin2 {
inline constexpr qint32 Announced = 0;      // the announcement; on an answer: received (record) or accepted (deletion)
inline constexpr qint32 Closed = 1;         // the closing: of a record, or of a deletion every branch accepted
inline constexpr qint32 ClosedRefused = 2;  // the closing of a deletion some branch refused
// On a deletion answer of the first stage (mainbranch "0"), 1 is a refusal; the same pair (3,1)
// is the answer to an all-accepted closing in the second stage (mainbranch the announcer).
inline constexpr qint32 Refused = 1;
}

// kin3: this branch's own progress on a local row (the server stores none).
namespace kin3 {
inline constexpr qint32 Open = 0;             // nothing done yet: every row the ledger update adds starts so
inline constexpr qint32 Done = 1;             // another's deletion announcement: answered here;
                                              // an own announcement: its closing posted
inline constexpr qint32 Finished = 2;         // an own announcement or closing: its server rows removed
inline constexpr qint32 ClosingAnswered = 3;  // another's closing: answered here
inline constexpr qint32 RemovalOwed = 4;      // a row that landed after its exchange ended, which this branch
                                              // still has to take off the server: no rule but that removal
                                              // acts on it, and no purge takes it
}

// ---- the record's marks, and the first stage's mainbranch ----------------------------------
// SynAdd: where a record's version stands in this database.
namespace synAdd {
inline const QString Held = QStringLiteral("0");     // received, or sent: its exchange not closed yet
inline const QString ToSend = QStringLiteral("1");   // this branch's edit, to be sent
inline const QString Closed = QStringLiteral("4");   // its exchange closed
inline const QString ToSendToo = QStringLiteral("5"); // a row the program wrote itself, to be sent
}
// SynDele: where a record's deletion stands.
namespace synDele {
inline const QString Live = QStringLiteral("0");        // not deleted, or given its life back
inline const QString ToAnnounce = QStringLiteral("1");  // deleted here, the deletion to be announced
inline const QString Pending = QStringLiteral("2");     // its deletion announced or accepted, not carried out
}
// The mainbranch of the first stage's rows (the announcement and the answers to it); an answer
// to a closing names the announcer instead.
inline const QString kFirstStage = QStringLiteral("0");

// A kin value as the ledger stores and the statements compare it.
inline QString text(qint32 kin)
{
    return QString::number(kin);
}

// The family of a row: kin1::Record for record rows (kinds 0 and 1), kin1::Deletion for deletion
// rows (2 and 3); the announcer's kin1 of its exchange.
inline qint32 familyOf(qint32 kin1Value)
{
    return (kin1Value == kin1::Deletion || kin1Value == kin1::DeletionAnswer) ? kin1::Deletion : kin1::Record;
}
// The answer kind of a family.
inline qint32 answerOf(qint32 family)
{
    return family + 1;
}
inline bool isAnnouncerRow(qint32 kin1Value)
{
    return kin1Value == kin1::Record || kin1Value == kin1::Deletion;
}

// Ledger and record values come from other branches: every one goes into a statement quoted.
inline QString lit(const QString& value)
{
    return data::sqlLiteral(value);
}

// The record given its life back after a refused deletion.
inline QString restoredSet()
{
    return "SynDele = " + lit(synDele::Live) + ",NoBra3 = '--'";
}
// A version marked closed.
inline QString closedSet()
{
    return "SynAdd=  " + lit(synAdd::Closed);
}
// Leaves out a local edit waiting to be sent: it will be announced and closed on its own.
inline QString notPending()
{
    return " and (SynAdd is null or SynAdd not in (" + lit(synAdd::ToSend) + u',' + lit(synAdd::ToSendToo) + "))";
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

// Clauses on atten_rec.
// "kin1 = 'a' or kin1 = 'b'": the rows of one family (announcer's rows and answers).
inline QString familyClause(qint32 family)
{
    return "(kin1 = " + lit(text(family)) + " or kin1 = " + lit(text(answerOf(family))) + ")";
}
// "where NoRec = .. and treco = ..": the rows of one record.
inline QString recordClause(const QString& treco, const QString& NoRec)
{
    return "where NoRec = " + lit(NoRec) + " and treco = " + lit(treco);
}
// The rows of one exchange: a version of a record in one family.
inline QString exchangeClause(const QString& treco, const QString& NoRec, const QString& SynLast, qint32 family)
{
    return recordClause(treco, NoRec) + " and SynLast = " + lit(SynLast) + " and " + familyClause(family);
}
// Leaves out the rows whose removal from the server this branch still owes: nothing but that
// removal may take them out of the local ledger.
inline QString notOwed()
{
    return " and (kin3 is null or kin3 <> " + lit(text(kin3::RemovalOwed)) + ")";
}

// One ledger row, read once.
struct LedgerRow {
    QString NoRec, treco, branch, SynLast, kin2Text, DTNow, mainbranch;
    qint32 kin1{}, kin2{}, kin3{};

    qint32 family() const { return familyOf(kin1); }
    // An answer to a closing, addressed to the announcer (a first-stage answer names no branch).
    bool answersClosing() const { return !isAnnouncerRow(kin1) && num(mainbranch) != 0; }
};

inline LedgerRow readRow(const data::Recordset& rs)
{
    LedgerRow r;
    r.NoRec = rs.text(u"NoRec");
    r.treco = rs.text(u"treco");
    r.branch = rs.text(u"branch");
    r.SynLast = rs.text(u"SynLast");
    r.kin1 = num(rs.text(u"kin1"));
    r.kin2Text = rs.text(u"kin2");
    r.kin2 = num(r.kin2Text);
    r.kin3 = num(rs.text(u"kin3"));
    r.mainbranch = rs.text(u"mainbranch");
    r.DTNow = rs.text(u"DTNow");
    return r;
}

// Fills a new local row (after addNew) with a server row's columns; kin3 is left to the table's
// default unless given.
inline void fillRow(data::Recordset& rs, const LedgerRow& r, std::optional<qint32> kin3Value = std::nullopt)
{
    rs.setValue(u"NoRec", r.NoRec);
    rs.setValue(u"branch", r.branch);
    rs.setValue(u"treco", r.treco);
    rs.setValue(u"SynLast", r.SynLast);
    rs.setValue(u"kin1", text(r.kin1));
    rs.setValue(u"kin2", r.kin2Text);
    rs.setValue(u"DTNow", r.DTNow);
    rs.setValue(u"mainbranch", r.mainbranch);
    if (kin3Value)
        rs.setValue(u"kin3", text(*kin3Value));
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

// The tables of the cycle statistics and the notices: their rows are announced but never
// answered, closed or finished (no other kind is ever sent for them).
inline bool isStatisticsTable(const QString& treco)
{
    return treco == u"branchsyn_tab" || treco == u"notic_tab";
}

// A local row holding this branch's own change still to be sent.
inline bool ownPending(const data::Recordset& local, const QString& me)
{
    const QString mark = local.text(u"SynAdd");
    return local.text(u"No_Branch") == me && (mark == synAdd::ToSend || mark == synAdd::ToSendToo);
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

// The key under which in-memory indexes of the ledger (the ledger update's, the resolution's)
// keep a record and a version of it: each value in its collation form, so an index never tells
// apart what a where clause takes as equal. nullopt when a value has no such form: only the
// database can then answer.
struct LedgerKey {
    QString record;        // treco and NoRec
    QString version;       // SynLast; empty for a key of the record alone
    bool ordered = false;  // the version is digits only, so its order in memory is the column's

    static std::optional<LedgerKey> of(const QString& treco, const QString& NoRec, const QString& SynLast = {})
    {
        const std::optional<QString> t = collationKey(treco), n = collationKey(NoRec), v = collationKey(SynLast);
        if (!t || !n || !v)
            return std::nullopt;
        return LedgerKey{*t + u'\n' + *n, *v, collationKey(SynLast, true).has_value()};
    }
    // The record and version as one text, for hashing.
    QString exchange() const { return record + u'\n' + version; }
};

// The failure texts of the passes.
inline const QString kConnectionError = QStringLiteral("خطاء بالاتصال تأكد من أتصال الانترنت");

}  // namespace tarvelo::sync::ledger
