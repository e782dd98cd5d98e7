#include "records/record_numbering.h"

#include "data/sql_text.h"

namespace tarvelo::records {

namespace {

bool isYearCoded(const QString& table)
{
    return table == u"invoice_tab" || table == u"inbill_tab" || table == u"rst_tab";
}

bool allDigits(QStringView text)
{
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

}  // namespace

QString New_No_Rec(RecordsContext& ctx, qint16 kind, qint16 width, data::RecordsetVar& rs, const QString& table)
{
    Q_UNUSED(kind);
    if (width < 1 || width > 15)
        return kNoNumber;
    try {
        const QString nines = QStringLiteral("999999999999999").right(width);
        const QString firstSequence = QString(width - 1, u'0') + u'1';

        const QString yearCode = isYearCoded(table) ? ctx.run.Kin_Yer : QString();
        const QString& branchCode = ctx.run.config.My_Branch;
        const QString clause = isYearCoded(table)
                                   ? "where left(No_Rec,2) = " + data::sqlLiteral(yearCode)
                                         + " and mid(No_Rec,3,2) = " + data::sqlLiteral(branchCode)
                                   : "where left(No_Rec,2) = " + data::sqlLiteral(branchCode);
        if (!ctx.db.Open_Rs_Loc_Where_Order(rs, table, clause, QStringLiteral("No_Rec")))
            return kNoNumber;
        if (!rs || rs->recordCount() <= 0)
            return yearCode + branchCode + firstSequence;

        rs->moveLast();
        const QString last = rs->text(u"no_rec");
        const QString sequence = table == u"rst_tab" && width == 4 ? last.mid(4, 4) : last.right(width);
        if (sequence == nines)
            return kNoNumber;
        // A sequence that is not plain digits would be read as some smaller number and give a number
        // that may already be taken.
        if (sequence.isEmpty() || !allDigits(sequence))
            return kNoNumber;
        bool ok = false;
        const qlonglong next = sequence.toLongLong(&ok) + 1;
        if (!ok)
            return kNoNumber;
        return yearCode + branchCode + QString::number(next).rightJustified(width, u'0');
    } catch (const std::exception&) {
        return kNoNumber;
    }
}

}  // namespace tarvelo::records
