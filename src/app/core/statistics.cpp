// The cycle bookkeeping: the statistics row, the next sleep and the notices.
#include "app/core/program.h"

#include "data/sql_text.h"
#include "records/notices.h"

#include <QCalendar>

namespace tarvelo::app {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kBranchSyn = QStringLiteral("branchsyn_tab");

}  // namespace

// ---- statistics ------------------------------------------------------------------------------

void Program::Syn_Statistic(qint16 Mode)
{
    // Every step on its own: a failing one is skipped and the next runs.
    auto step = [this](const std::function<void()>& fn) { guarded("SYN015", fn); };

    if (Mode == 1) {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        const qint64 elapsed = QDateTime::fromString(app.Syn_FromD, kTimeFormat).secsTo(now());
        app.Syn_ToD = now().toString(kTimeFormat);
        if (sync.Cnt_Send > 0 || sync.Cnt_Rece > 0 || sync.Cnt_Check > 0 || run.Syn_First == 1)
            app.Sleep_Left = 0;
        else if (elapsed < 0 || elapsed > 120)
            app.Sleep_Left = 0;
        else
            app.Sleep_Left = qint32(120 - elapsed);
    } else {
        app.Syn_FromD = now().toString(kTimeFormat);
        app.Syn_ToD = app.Syn_FromD;
        app.Sleep_Left = 0;
    }

    qint64 newR = 0, delR = 0;
    for (int i = 0; i <= tables.Tab_Count && i < records::TableList::Slots; ++i) {
        newR += tables.Tab_Rece[size_t(i)];
        delR += tables.Tab_ReceDel[size_t(i)];
    }

    bool opened = false;
    step([&] {
        opened = db.Open_Rs_Loc_Where_Order(Rs_Work, kBranchSyn, "where no_rec = " + data::sqlLiteral(run.config.My_Branch),
                                            QStringLiteral("no_rec"));
    });
    if (!opened)
        return;
    data::RecordsetVar rs = Rs_Work;
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
        rs->setValue(u"New_C", QString::number(branch.Chk_Rec));
        rs->setValue(u"Del_C", QString::number(branch.Chk_Del));
        rs->setValue(u"New_R", QString::number(newR));
        rs->setValue(u"Del_R", QString::number(delR));
    });
    if (Mode == 0) {
        step([&] {
            rs->setValue(u"FromD", app.Syn_FromD);
            window.Label2.setText(4, app.Syn_FromD);
        });
    } else {
        tables.raiseSend(kBranchSyn);
    }
    step([&] {
        const QDateTime t = now();
        const QCalendar hijri(QCalendar::System::IslamicCivil);
        rs->setValue(u"ToD", app.Syn_ToD);
        rs->setValue(u"DDiff", run.Time_Diff);
        rs->setValue(u"No_Branch", run.config.My_Branch);
        rs->setValue(u"Date_Edit_H", t.date().addDays(run.Hijri_Adj).toString(QStringLiteral("yyyy-MM-dd"), hijri));
        rs->setValue(u"Date_Edit_G", t.date().toString(QStringLiteral("yyyy-MM-dd")));
        rs->setValue(u"DatTim1", t.toString(QStringLiteral("yyyyMMddHHmmss")));
        rs->setValue(u"DatTim3", t.toString(QStringLiteral("yyyyMMddHHmm")));
        rs->setValue(u"SynAdd", QStringLiteral("5"));
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
    window.Label2.setText(5, app.Syn_ToD);

    records::RecordsContext rctx = ctx.records();
    auto notice = [&](const QString& arabic, const QString& english) {
        step([&] {
            if (records::Add_Notice(rctx, arabic, english, run.config.My_Branch, kBranchSyn)) {
                sync.Cnt_Send = 0;
                sync.Cnt_Rece = 0;
            }
        });
    };
    ++app.Cnt_Cycle;
    if (app.Cnt_Cycle >= 10) {
        sync.Syn_AllPass = 1;
        app.Cnt_Cycle = 0;
        branch.Chk_Rec = 1;
        branch.Chk_Del = 1;
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

}  // namespace tarvelo::app
