#include "data/recordset.h"

#include <algorithm>

namespace tarvelo::data {

QString quoteIdentifier(QStringView name)
{
    QString out = name.toString();
    out.replace(u"`"_qs, u"``"_qs);
    return u'`' + out + u'`';
}

void Recordset::open(std::shared_ptr<OdbcConnection> connection, const QString& sql, const QString& table)
{
    sql_ = sql;
    table_ = table;
    ResultData data = connection->query(sql);
    conn_ = std::move(connection);
    columns_ = std::move(data.columns);
    rows_.clear();
    rows_.reserve(data.rows.size());
    for (auto& r : data.rows) {
        Row row;
        row.changed.assign(r.size(), false);
        row.known.assign(r.size(), true);
        row.original = r;
        row.values = std::move(r);
        rows_.push_back(std::move(row));
    }
    pos_ = 0;
    open_ = true;
}

void Recordset::requireOpen() const
{
    if (!open_)
        throw DbError(QStringLiteral("the recordset is not open"));
}

long long Recordset::recordCount() const
{
    requireOpen();
    return static_cast<long long>(rows_.size());
}

bool Recordset::eof() const
{
    requireOpen();
    return pos_ >= static_cast<long long>(rows_.size());
}

bool Recordset::bof() const
{
    requireOpen();
    return pos_ < 0 || rows_.empty();
}

long long Recordset::position() const
{
    requireOpen();
    return pos_;
}

void Recordset::saveBeforeMove()
{
    if (editPending())
        update();
}

void Recordset::moveFirst()
{
    requireOpen();
    saveBeforeMove();
    pos_ = 0;
}

void Recordset::moveLast()
{
    requireOpen();
    saveBeforeMove();
    pos_ = rows_.empty() ? 0 : static_cast<long long>(rows_.size()) - 1;
}

void Recordset::moveNext()
{
    requireOpen();
    if (eof())
        throw DbError(QStringLiteral("no current row: already past the last row"));
    saveBeforeMove();
    ++pos_;
}

void Recordset::movePrevious()
{
    requireOpen();
    if (pos_ < 0)
        throw DbError(QStringLiteral("no current row: already before the first row"));
    saveBeforeMove();
    --pos_;
}

void Recordset::moveTo(long long position)
{
    requireOpen();
    if (position < 0 || position >= static_cast<long long>(rows_.size()))
        throw DbError(QStringLiteral("no row at position %1").arg(position));
    saveBeforeMove();
    pos_ = position;
}

QStringList Recordset::columnNames() const
{
    requireOpen();
    QStringList out;
    for (const auto& c : columns_)
        out << c.name;
    return out;
}

bool Recordset::hasColumn(QStringView column) const
{
    requireOpen();
    for (const auto& c : columns_)
        if (QStringView(c.name).compare(column, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

int Recordset::requireColumn(QStringView column) const
{
    requireOpen();
    for (size_t i = 0; i < columns_.size(); ++i)
        if (QStringView(columns_[i].name).compare(column, Qt::CaseInsensitive) == 0)
            return int(i);
    throw DbError("no column " + column.toString() + " in the recordset of " + table_);
}

Recordset::Row& Recordset::currentRow()
{
    requireOpen();
    if (pos_ < 0 || pos_ >= static_cast<long long>(rows_.size()))
        throw DbError(QStringLiteral("no current row"));
    return rows_[size_t(pos_)];
}

const Recordset::Row& Recordset::currentRow() const
{
    return const_cast<Recordset*>(this)->currentRow();
}

QVariant Recordset::value(QStringView column) const
{
    int i = requireColumn(column);
    return currentRow().values[size_t(i)];
}

QString Recordset::text(QStringView column) const
{
    QVariant v = value(column);
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

bool Recordset::isNull(QStringView column) const
{
    return value(column).isNull();
}

void Recordset::setValue(QStringView column, const QVariant& value)
{
    int i = requireColumn(column);
    Row& row = currentRow();
    QVariant v = value;
    if (v.isValid() && !v.isNull() && v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray)
        v = v.toString();
    row.values[size_t(i)] = v;
    row.changed[size_t(i)] = true;
}

bool Recordset::editPending() const
{
    if (!open_ || pos_ < 0 || pos_ >= static_cast<long long>(rows_.size()))
        return false;
    const Row& row = rows_[size_t(pos_)];
    if (!row.stored)
        return true;
    for (bool c : row.changed)
        if (c)
            return true;
    return false;
}

void Recordset::addNew()
{
    requireOpen();
    saveBeforeMove();
    Row row;
    row.values.resize(columns_.size());
    row.changed.assign(columns_.size(), false);
    row.known.assign(columns_.size(), false);
    row.stored = false;
    rows_.push_back(std::move(row));
    pos_ = static_cast<long long>(rows_.size()) - 1;
}

void Recordset::cancelUpdate()
{
    requireOpen();
    if (pos_ < 0 || pos_ >= static_cast<long long>(rows_.size()))
        return;
    Row& row = rows_[size_t(pos_)];
    if (!row.stored) {
        rows_.erase(rows_.begin() + pos_);
        pos_ = rows_.empty() ? 0 : static_cast<long long>(rows_.size()) - 1;
        return;
    }
    row.values = row.original;
    row.changed.assign(columns_.size(), false);
}

QString Recordset::quotedTable() const
{
    if (table_.isEmpty())
        throw DbError(QStringLiteral("this recordset cannot be saved: it names no table"));
    return quoteIdentifier(table_);
}

void Recordset::update()
{
    save(true);
}

void Recordset::insertOnly()
{
    if (currentRow().stored)
        throw DbError(QStringLiteral("insertOnly() saves new rows only"));
    save(false);
}

void Recordset::save(bool readBackKey)
{
    Row& row = currentRow();
    if (!keyKnown_) {
        const QStringList key = conn_->primaryKey(table_);
        key_.clear();
        for (const QString& k : key) {
            int i = -1;
            for (size_t c = 0; c < columns_.size(); ++c)
                if (columns_[c].name.compare(k, Qt::CaseInsensitive) == 0)
                    i = int(c);
            if (i < 0) {  // a key the recordset does not hold cannot address the row
                key_.clear();
                break;
            }
            key_.push_back(i);
        }
        keyKnown_ = true;
    }

    if (!row.stored) {
        QStringList names, marks;
        std::vector<QVariant> params;
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (!row.changed[c])
                continue;
            names << quoteIdentifier(columns_[c].name);
            marks << QStringLiteral("?");
            params.push_back(row.values[c]);
        }
        conn_->execute("INSERT INTO " + quotedTable() + " (" + names.join(", ") + ") VALUES (" + marks.join(", ")
                           + ")",
                       params);
        // An auto-numbered key must be known, or a later save of this row could not find it.
        if (readBackKey && key_.size() == 1 && row.values[size_t(key_[0])].isNull())
            row.values[size_t(key_[0])] = conn_->lastInsertId();
        row.stored = true;
        row.original = row.values;
        // Columns the insert left to their defaults hold values this row has not seen.
        row.known = row.changed;
        if (key_.size() == 1)
            row.known[size_t(key_[0])] = true;
        row.changed.assign(columns_.size(), false);
        return;
    }

    QStringList sets;
    std::vector<QVariant> params;
    for (size_t c = 0; c < columns_.size(); ++c) {
        if (!row.changed[c])
            continue;
        sets << quoteIdentifier(columns_[c].name) + " = ?";
        params.push_back(row.values[c]);
    }
    if (sets.isEmpty())
        return;
    // Optimistic locking: the row is found by its key and by what the changed columns held when
    // read, so a change another program made meanwhile is never overwritten. Without a key,
    // every value read addresses it.
    QStringList where;
    const auto addCondition = [&](size_t c) {
        where << quoteIdentifier(columns_[c].name) + " <=> ?";
        params.push_back(row.original[c]);
    };
    for (int k : key_)
        addCondition(size_t(k));
    for (size_t c = 0; c < columns_.size(); ++c) {
        const bool isKey = std::find(key_.begin(), key_.end(), int(c)) != key_.end();
        if (row.known[c] && !isKey && (key_.empty() || row.changed[c]))
            addCondition(c);
    }
    QString sql = "UPDATE " + quotedTable() + " SET " + sets.join(", ") + " WHERE " + where.join(" AND ");
    if (key_.empty())
        sql += " LIMIT 1";
    // Matched rows, not changed ones (the connection's options ask for found rows): saving a
    // value the row already holds still finds it.
    const long long matched = conn_->execute(sql, params);
    if (matched < 1)
        throw DbError("not saved to " + table_
                      + ": the row was changed or deleted by someone else since it was read");
    row.original = row.values;
    row.changed.assign(columns_.size(), false);
}

}  // namespace tarvelo::data
