#pragma once
#include "data/odbc.h"

#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace tarvelo::data {

// A client-side, static result of "select * from <table> ...": exact row count at once, free
// movement, and edits saved back to the table with bound parameters. It keeps its connection
// alive, so it stays readable and savable after later calls have replaced the side's connection.
//
// A recordset that was made but never opened (what a failed call leaves behind) throws on every
// read, as the callers expect an error there.
class Recordset {
public:
    Recordset() = default;

    // Runs the statement; `table` is where saved rows go (empty: not savable).
    void open(std::shared_ptr<OdbcConnection> connection, const QString& sql, const QString& table);
    bool isOpen() const { return open_; }
    const QString& source() const { return sql_; }

    long long recordCount() const;
    bool eof() const;
    bool bof() const;
    long long position() const;  // 0-based current row, -1 before the first
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    // Makes the row at `position` (as position() gives it) the current row.
    void moveTo(long long position);

    QStringList columnNames() const;
    bool hasColumn(QStringView column) const;
    QVariant value(QStringView column) const;
    // The value as text; NULL reads as empty text.
    QString text(QStringView column) const;
    bool isNull(QStringView column) const;
    // The same, for column names written as plain literals.
    QVariant value(const QString& column) const { return value(QStringView(column)); }
    QString text(const QString& column) const { return text(QStringView(column)); }
    bool isNull(const QString& column) const { return isNull(QStringView(column)); }
    bool hasColumn(const QString& column) const { return hasColumn(QStringView(column)); }
    void setValue(const QString& column, const QVariant& value) { setValue(QStringView(column), value); }

    // Changes the current row; the change is held until update() (or a move, which saves it first).
    void setValue(QStringView column, const QVariant& value);
    void addNew();
    // Saves the current row. An edited row is found by its key and the values its changed
    // columns held when read; when another program changed or deleted it meanwhile, nothing is
    // written and DbError says so.
    void update();
    // Saves the current new row without reading back an auto-numbered key, a statement less, for
    // rows this recordset does not save again (a later save of the row finds nothing and fails).
    void insertOnly();
    void cancelUpdate();
    bool editPending() const;

private:
    struct Row {
        std::vector<QVariant> values;
        std::vector<QVariant> original;  // as the database holds it; empty for a row not yet saved
        std::vector<bool> changed;
        std::vector<bool> known;  // whether `original` holds what the database has for the column
        bool stored = true;
    };
    void requireOpen() const;
    int requireColumn(QStringView column) const;
    Row& currentRow();
    const Row& currentRow() const;
    void saveBeforeMove();
    void save(bool readBackKey);
    QString quotedTable() const;

    std::shared_ptr<OdbcConnection> conn_;
    QString sql_;
    QString table_;
    bool open_ = false;
    std::vector<ResultColumn> columns_;
    std::vector<Row> rows_;
    long long pos_ = 0;
    bool keyKnown_ = false;
    std::vector<int> key_;
};

using RecordsetVar = std::shared_ptr<Recordset>;

QString quoteIdentifier(QStringView name);

}  // namespace tarvelo::data
