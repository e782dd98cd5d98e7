#include "records/notices.h"

#include "data/sql_text.h"
#include "records/record_numbering.h"

#include <QCalendar>
#include <QDateTime>

namespace tarvelo::records {

namespace {
const QString kNoticTab = QStringLiteral("notic_tab");
}  // namespace

bool Add_Notice(RecordsContext& ctx, const QString& NaRec, const QString& NeRec, const QString& NoNote,
                const QString& TablNote)
{
    data::RecordsetVar& rs = ctx.vars.Rs_Notic;
    const QString clause =
        "where No_Note = " + data::sqlLiteral(NoNote) + " and Tabl_Note = " + data::sqlLiteral(TablNote);
    if (!ctx.db.Open_Rs_Loc_Where_Order(rs, kNoticTab, clause, QStringLiteral("no_rec")))
        return false;

    try {
        if (!rs)
            return false;
        if (rs->recordCount() > 0) {
            rs->moveFirst();
        } else {
            const QString number = New_No_Rec(ctx, 1, 7, rs, kNoticTab);
            if (number == kNoNumber || !rs)
                return false;
            rs->addNew();
            rs->setValue(u"no_rec", number);
            rs->setValue(u"No_Note", NoNote);
            rs->setValue(u"Tabl_Note", TablNote);
        }

        // One reading of the clock, so the stamps of a row never straddle a second or midnight.
        const QDateTime now = QDateTime::currentDateTime();
        const QString stamp = now.toString(QStringLiteral("yyyyMMddHHmmss"));
        rs->setValue(u"red_rec", QStringLiteral("1"));
        rs->setValue(u"red_tim", "20" + stamp);
        rs->setValue(u"Na_Rec", NaRec);
        rs->setValue(u"Ne_Rec", NeRec);
        rs->setValue(u"No_Branch", ctx.run.config.My_Branch);
        rs->setValue(u"DatTim1", stamp);
        rs->setValue(u"SynAdd", QStringLiteral("1"));
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        rs->setValue(u"Date_Edit_H",
                     now.date().addDays(ctx.run.Hijri_Adj).toString(QStringLiteral("yyyy-MM-dd"), hijri));
        rs->setValue(u"Date_Edit_G", now.date().toString(QStringLiteral("yyyy-MM-dd")));
        rs->setValue(u"Time_Edit", now.time().toString(QStringLiteral("HH:mm:ss")));
        rs->update();
    } catch (const std::exception&) {
        // Drop the unsaved edit, so no later move on this recordset can save half a notice.
        try {
            if (rs)
                rs->cancelUpdate();
        } catch (...) {
        }
        return false;
    }

    ctx.tables.raiseSend(kNoticTab);
    return true;
}

}  // namespace tarvelo::records
