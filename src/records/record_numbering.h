#pragma once
#include "records/records_state.h"

#include <QString>

namespace tarvelo::records {

// The text that means no number could be given.
inline const QString kNoNumber = QStringLiteral("--");

// A new record number for a row this program adds to the local `table`: for invoice_tab, inbill_tab
// and rst_tab the year code Kin_Yer first, then My_Branch, then a sequence of `width` digits (1 to 15)
// one above this branch's highest (for rst_tab with width 4: the batch in characters 5 to 8).
//
// Leaves the selection of this branch's rows open in `rs`, on its last row, for the caller to add the
// new row to. Returns "--" when the sequence is exhausted or anything fails; logs nothing. `kind` is
// kept for the callers and takes no part in the number.
QString New_No_Rec(RecordsContext& ctx, qint16 kind, qint16 width, data::RecordsetVar& rs, const QString& table);

}  // namespace tarvelo::records
