#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include "data/sql_text.h"
#include "records/notices.h"

#include <QCalendar>

namespace tarvelo::sync {

namespace {
const QString kBranchSyn = QStringLiteral("branchsyn_tab");
}

void Save_Syn_Statistic(SyncContext& ctx, qint16 Mode, const QString& FromD, const QString& ToD, qint32& Cnt_Cycle,
                        const StatisticStep& step)
{
    data::RunState& run = ctx.run;
    records::TableList& tables = ctx.tables;
    SyncState& sync = ctx.state;
    qint64 newR = 0, delR = 0;
    for (int i = 0; i <= tables.Tab_Count && i < records::TableList::Slots; ++i) {
        newR += tables.Tab_Rece[size_t(i)];
        delR += tables.Tab_ReceDel[size_t(i)];
    }

    bool opened = false;
    data::RecordsetVar work;
    step([&] {
        opened = ctx.db.Open_Rs_Loc_Where_Order(work, kBranchSyn, "where no_rec = " + data::sqlLiteral(run.config.My_Branch),
                                                QStringLiteral("no_rec"));
    });
    if (!opened)
        return;
    data::RecordsetVar rs = work;
    step([&] {
        if (rs->recordCount() > 0) {
            rs->moveFirst();
        } else {
            rs->addNew();
            rs->setValue(u"no_rec", run.config.My_Branch);
            rs->setValue(u"Na_Rec", QStringLiteral("--"));
            rs->setValue(u"Ne_Rec", QStringLiteral("--"));
        }
    });
    step([&] {
        rs->setValue(u"New_C", QString::number(ctx.branch.Chk_Rec));
        rs->setValue(u"Del_C", QString::number(ctx.branch.Chk_Del));
        rs->setValue(u"New_R", QString::number(newR));
        rs->setValue(u"Del_R", QString::number(delR));
    });
    if (Mode == 0) {
        step([&] {
            rs->setValue(u"FromD", FromD);
            ctx.window.Label2.setText(4, FromD);
        });
    } else {
        tables.raiseSend(kBranchSyn);
    }
    step([&] {
        const QDateTime t = ctx.now();
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        rs->setValue(u"ToD", ToD);
        rs->setValue(u"DDiff", run.Time_Diff);
        rs->setValue(u"No_Branch", run.config.My_Branch);
        rs->setValue(u"Date_Edit_H", t.date().addDays(run.Hijri_Adj).toString(QStringLiteral("yyyy-MM-dd"), hijri));
        rs->setValue(u"Date_Edit_G", t.date().toString(QStringLiteral("yyyy-MM-dd")));
        rs->setValue(u"DatTim1", t.toString(QStringLiteral("yyyyMMddHHmmss")));
        rs->setValue(u"DatTim3", t.toString(QStringLiteral("yyyyMMddHHmm")));
        rs->setValue(u"SynAdd", ledger::synAdd::ToSendToo);
        rs->setValue(u"Time_Edit", t.toString(QStringLiteral("HH:mm:ss")));
        rs->setValue(u"DatTim2", QStringLiteral("--"));
        rs->setValue(u"NoBra2", QStringLiteral("--"));
        rs->setValue(u"No_UseEdi", QStringLiteral("0100001"));
        rs->setValue(u"No_Branch", run.config.My_Branch);
        try {
            rs->update();
        } catch (...) {
            rs->cancelUpdate();
            throw;
        }
    });
    ctx.window.Label2.setText(5, ToD);

    records::RecordsContext rctx = ctx.records();
    auto notice = [&](const QString& arabic, const QString& english) {
        step([&] {
            if (records::Add_Notice(rctx, arabic, english, run.config.My_Branch, kBranchSyn)) {
                sync.Cnt_Send = 0;
                sync.Cnt_Rece = 0;
            }
        });
    };
    ++Cnt_Cycle;
    if (Cnt_Cycle >= 10) {
        sync.Syn_AllPass = 1;
        Cnt_Cycle = 0;
        ctx.branch.Chk_Rec = 1;
        ctx.branch.Chk_Del = 1;
        tables.setAllCounters(1);
        if (sync.Cnt_Send == 0 && sync.Cnt_Rece == 0)
            notice(QStringLiteral("تحديث المزامنة في"), QStringLiteral("UpDate Syn at"));
    }
    if (sync.Cnt_Send == -1)
        notice(QStringLiteral("بدء المزامنه في"), QStringLiteral("Start Syn at"));
    if (sync.Cnt_Send > 0 || sync.Cnt_Rece > 0) {
        const QString s = QString::number(sync.Cnt_Send), r = QString::number(sync.Cnt_Rece);
        notice("ارسال " + s + " استقبال " + r + " في", "Send " + s + " Recepion " + r + " at");
    }
    sync.Cnt_Check = 0;
}

}  // namespace tarvelo::sync
