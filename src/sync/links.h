#pragma once
#include "data/database.h"
#include "data/recordset.h"
#include "data/sql_text.h"
#include "records/families.h"

#include <QString>
#include <QStringList>
#include <span>

namespace tarvelo::sync {

// Link columns a pass copies besides the common ones; empty for a table without any.
inline std::span<const char16_t* const> linkColumns(QStringView table, bool& isMaster)
{
    const records::Family* family = records::familyOf(table);
    isMaster = family != nullptr;
    if (family)
        return family->links;
    const records::Member* member = records::memberEntry(table, false);
    return member ? member->links : std::span<const char16_t* const>{};
}

// Whether a table's rows are detail rows, tied to one revision of their master: no ledger keeps
// their acknowledgement rows.
inline bool isDetailTable(const QString& table)
{
    return records::memberEntry(table, true) != nullptr;
}

// The detail tables whose rows name their master in NRS1 and go with it; empty for a table that is
// no master.
inline QStringList detailTables(QStringView master)
{
    QStringList out;
    for (const records::Member& m : records::membersOf(master))
        if (m.detail && m.onDelete != records::OnDelete::Kept)
            out << QString::fromUtf16(m.table);
    return out;
}

// The clause selecting a record's pictures.
inline QString picturesClause(const QString& treco, const QString& noRec)
{
    const records::Pictures& p = records::kPictures;
    return "where " + QString::fromUtf16(p.idColumn) + " = " + data::sqlLiteral(noRec) + " and "
           + QString::fromUtf16(p.tableColumn) + " = " + data::sqlLiteral(treco);
}

// Deletes the member rows of `m` that `where` selects, or (punches) deletes those saved for the
// master and detaches the others, `detachWhere` selecting those; members deleting the master
// keeps or repairs are left alone. False when a statement failed.
template <class Remove, class Update>
bool removeMemberRows(const records::Member& m, const QString& where, const QString& detachWhere, Remove remove,
                      Update update)
{
    using data::sqlLiteral;
    const QString table = QString::fromUtf16(m.table);
    switch (m.onDelete) {
    case records::OnDelete::Deleted:
        return remove(table, where);
    case records::OnDelete::DetachedUnlessSaved:
        return remove(table, where + " and KinSave = " + sqlLiteral(u"3"))
               && update(QStringLiteral("KinSave = ") + sqlLiteral(u"0") + ",NRS1 = " + sqlLiteral(u"--"), table,
                         detachWhere + " and KinSave <> " + sqlLiteral(u"3"));
    case records::OnDelete::Kept:
    case records::OnDelete::Repaired:
        break;
    }
    return true;
}

// Removes or detaches the detail rows of a master that belong to another revision than `drs1`,
// on one side (`remove` and `update` are that side's Delete and Update calls). False when a
// statement failed.
template <class Remove, class Update>
bool removeStaleDetails(QStringView master, const QString& noRec, const QString& drs1, Remove remove, Update update)
{
    using data::sqlLiteral;
    const QString key = "where NRS1 = " + sqlLiteral(noRec);
    const QString other = " and DRS1 <> " + sqlLiteral(drs1);
    for (const records::Member& m : records::membersOf(master))
        if (m.detail && m.oldRevisionsGo && !removeMemberRows(m, key + other, key + u' ' + other, remove, update))
            return false;
    return true;
}

}  // namespace tarvelo::sync
