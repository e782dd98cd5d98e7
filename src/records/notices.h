#pragma once
#include "records/records_state.h"

#include <QString>

namespace tarvelo::records {

// Writes or refreshes the one local notic_tab row of a subject (NoNote, TablNote), marked to be sent,
// and raises the send counter of notic_tab. A new row is numbered by New_No_Rec. True when the row was
// saved; false after any failure, with nothing written and no counter changed.
bool Add_Notice(RecordsContext& ctx, const QString& NaRec, const QString& NeRec, const QString& NoNote,
                const QString& TablNote);

}  // namespace tarvelo::records
