#pragma once
#include "records/records_state.h"

#include <QString>
#include <QStringView>
#include <stdexcept>

namespace tarvelo::records {

// A value that cannot be read as the number a setting needs (Null, or outside the setting's range).
class ValueConversionError : public std::runtime_error {
public:
    explicit ValueConversionError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The leading number of a text: blanks anywhere are skipped, reading stops at the first character
// that cannot continue the number (sign, digits, one decimal point, an exponent), no number gives 0.
double leadingNumber(QStringView text);

// leadingNumber() taken to the nearest integer, halves to the even neighbour, as a 16-bit signed
// integer. Throws ValueConversionError outside -32768..32767.
qint16 leadingInt16(QStringView text);

// Copies the table-specific columns of the current row of ctx.vars.Rs_Source into the current row of
// ctx.vars.Rs_Target, by the column table. Never adds, saves or moves rows. When this branch's own
// branch_tab row passes through, reloads the branch settings and marks every table as having work.
//
// Catches nothing: a missing column, a closed recordset or an unreadable setting reaches the caller as
// data::DbError or ValueConversionError; settings set before an unreadable one keep their new values.
// Returns true whenever it returns.
bool Copy_Reco(RecordsContext& ctx, const QString& treco);

}  // namespace tarvelo::records
