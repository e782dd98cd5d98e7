#pragma once
#include "data/database.h"
#include "data/indicators.h"
#include "records/records_state.h"
#include "records/table_list.h"
#include "support/test_db.h"

#include <QString>
#include <QStringList>

namespace tarvelo::test {

// A branch database and a server database made from the schema fixture, with a fresh context of the
// record copy, numbering and notices pointed at them.
struct RecordsWorld {
    explicit RecordsWorld(const QString& myBranch = QStringLiteral("01"))
        : db(run, lamps, nullptr, nullptr)
    {
        const data::DbSettings server = serverDb.settings();
        pointAt(db, run, branchDb.settings(), &server);
        run.config.My_Branch = myBranch;
        run.config.Riv_Server = QStringLiteral("010218");
    }

    // Fills the table list as the start-up does, with every counter at 0 so changes show.
    void fillTables()
    {
        records::Fill_Syn_Tabs(tables, combo);
        tables.setAllCounters(0);
    }

    // Column names of a table in the given database, in table order.
    static QStringList columnsOf(const ScratchDatabase& d, const QString& table)
    {
        QStringList out;
        const data::ResultData r = d.query(
            "select column_name from information_schema.columns where table_schema = '" + d.name()
            + "' and table_name = '" + table.toLower() + "' order by ordinal_position");
        for (const auto& row : r.rows)
            out << row[0].toString();
        return out;
    }

    ScratchDatabase branchDb{QStringLiteral("branch")};
    ScratchDatabase serverDb{QStringLiteral("server")};
    data::RunState run;
    data::LampsModel lamps;
    data::TextListModel combo;
    data::Database db;
    records::TableList tables;
    records::BranchSettings branch;
    records::RecordsetVars vars;
    records::RecordsContext ctx{run, db, tables, branch, vars};
};

}  // namespace tarvelo::test
