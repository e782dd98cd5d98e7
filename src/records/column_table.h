#pragma once

#include <QStringView>

#include <span>

namespace tarvelo::records {

// The two notic_tab entries red_rec and red_tim are set in the target row, not copied from the source.
enum class EntryKind { Copy, SetToOne, RedTimStamp };

struct ColumnEntry {
    const char16_t* column;                 // same name in source and target
    const char16_t* minRevision = nullptr;  // nullptr when ungated, else the six-digit minimum server revision
    EntryKind kind = EntryKind::Copy;
};

struct TableColumns {
    const char16_t* table;                 // exact table name
    std::span<const ColumnEntry> entries;  // in copy order; empty for a table with no columns of its own
};

// The row of a table, found by exact, case-sensitive comparison of the whole name; nullptr when none.
const TableColumns* findTableColumns(QStringView table);

// Every row, for checks over the whole table.
std::span<const TableColumns> allTableColumns();

} // namespace tarvelo::records
