#pragma once
#include <QString>
#include <QStringView>

namespace tarvelo::data {

// Every value that goes into statement text passes through here, so that no text read from a
// database, a device or the network can change what a statement does. A quote is doubled, so
// no value can leave its literal under any sql_mode; backslash, NUL and line ends are
// backslash-escaped, which reads back exactly on the connections this layer opens (their
// sessions drop NO_BACKSLASH_ESCAPES).
QString sqlEscape(QStringView value);

// 'value', quoted and escaped for MySQL and MariaDB.
QString sqlLiteral(QStringView value);

// 'value without its closing quote: for the row count call, which closes the literal itself.
QString sqlLiteralOpen(QStringView value);

}  // namespace tarvelo::data
