#pragma once
#include "data/database.h"
#include "data/recordset.h"
#include "data/run_state.h"
#include "records/table_list.h"

#include <QtGlobal>

namespace tarvelo::records {

// This branch's own settings from its branch_tab row, and the engine's acknowledgement-work counters.
// The engine owns them; the record copy reloads them when this branch's own row passes through.
struct BranchSettings {
    qint16 Bra_Only = -1;  // kinSyn: while not 0 the cycle carries branch_tab only; -1 until loaded
    qint16 Bra_Set1 = -1;
    qint16 Bra_Set2 = -1;
    qint16 Bra_Set3 = -1;
    qint32 Chk_Rec = 0;  // pending acknowledgement resolution for record rows
    qint32 Chk_Del = 0;  // and for deletion rows
};

// The recordset variables shared between the passes and the copy: the passes point Rs_Source and
// Rs_Target at the rows to copy; Rs_Notic keeps the last notices selection between calls.
struct RecordsetVars {
    data::RecordsetVar Rs_Source;
    data::RecordsetVar Rs_Target;
    data::RecordsetVar Rs_Notic;
};

// What the record copy, the numbering and the notices work on. Built by whoever owns that state
// (the program at start, a test per case); holds references only.
struct RecordsContext {
    data::RunState& run;
    data::Database& db;
    TableList& tables;
    BranchSettings& branch;
    RecordsetVars& vars;
};

}  // namespace tarvelo::records
