#pragma once
// Which rows belong to a master record: every pass that carries, checks, schedules, deletes or
// sends a record again with what belongs to it reads this one list. Plain data only, so that the
// web service can read it too.
#include <QStringView>

#include <span>

namespace tarvelo::records {

// What deleting the master does to a member row.
enum class OnDelete {
    Deleted,
    Kept,                 // a stock's groups outlive it
    DetachedUnlessSaved,  // punches saved for a shift row (KinSave "3") go, the others lose the link
    Repaired,             // serial states go back to the history that remains
};

struct Member {
    const char16_t* table;
    const char16_t* link;   // the column that holds the master's no_rec
    const char16_t* count;  // the master's column that says how many it has, checked before the master
                            // is written to either side; null when unchecked
    bool detail;            // tied to one revision of the master by DRS1; no ledger keeps it
    bool oldRevisionsGo;    // a new revision of the master takes this table's rows of older ones
    bool scheduled;         // an edit of the master in the change queue schedules this table too
    OnDelete onDelete;
    std::span<const char16_t* const> links = {};  // the member's link columns, carried by the passes
};

struct Family {
    const char16_t* master;
    std::span<const char16_t* const> links;  // the master's link columns, carried by the passes
    std::span<const Member> members;         // in the order the cascade takes them
};

// Every record's pictures: rows of this table naming the record by number and table.
struct Pictures {
    const char16_t* table;
    const char16_t* idColumn;
    const char16_t* tableColumn;
};
inline constexpr Pictures kPictures{u"picstream_tab", u"NoID", u"rec_tab"};

namespace family_data {
using L = const char16_t* const;
inline constexpr L kMasterLinks[] = {u"CRS1", u"DRS1"};
inline constexpr L kInvoiceLinks[] = {u"CRS1", u"CRS2", u"CRS3", u"DRS1"};
inline constexpr L kStockLinks[] = {u"CRS1", u"CRS2", u"DRS1"};
inline constexpr L kDetailLinks[] = {u"NRS1", u"DRS1"};
// A serial state names the invoice that set it, so a repair or a record sent again carries it.
inline constexpr L kStateLinks[] = {u"NRS1"};
// A punch also names the device pull that brought it.
inline constexpr L kPunchLinks[] = {u"NRS1", u"DRS1", u"NRS2", u"DRS2"};

constexpr Member detail(const char16_t* table, const char16_t* count, bool oldRevisionsGo,
                        OnDelete onDelete = OnDelete::Deleted, std::span<L> links = kDetailLinks)
{
    return {table, u"NRS1", count, true, oldRevisionsGo, true, onDelete, links};
}

inline constexpr Member kMreport[] = {detail(u"sreport_tab", u"CRS1", true)};
inline constexpr Member kSheft[] = {detail(u"sheftrow_tab", u"CRS1", true)};
inline constexpr Member kRowshef[] = {detail(u"rst_tab", u"CRS1", true, OnDelete::DetachedUnlessSaved, kPunchLinks)};
inline constexpr Member kInbill[] = {detail(u"rowacc_tab", u"CRS1", true)};
// Older revisions of these three masters' rows are left where they are.
inline constexpr Member kAccreg[] = {detail(u"rowacc_tab", u"CRS1", false)};
inline constexpr Member kKinreg[] = {detail(u"kinregr_tab", u"CRS1", false)};
inline constexpr Member kAccbud[] = {detail(u"rowbud_tab", u"CRS1", false)};
// The serial history goes before the states are repaired, so the repair sees only what remains.
inline constexpr Member kInvoice[] = {
    detail(u"rowvoi_tab", u"CRS1", true),
    detail(u"seri_tab", u"CRS2", true),
    {u"inbill_tab", u"No_bill", nullptr, false, false, true, OnDelete::Deleted},
    {u"rowacc_tab", u"NoVoi_2", nullptr, false, false, true, OnDelete::Deleted},
    {u"serim_tab", u"NRS1", nullptr, false, false, false, OnDelete::Repaired, kStateLinks},
};
inline constexpr Member kStock[] = {
    detail(u"stocinf_tab", u"CRS1", true),
    detail(u"stocgro_tab", u"CRS2", false, OnDelete::Kept),
};
}  // namespace family_data

// Every master; sendev_tab carries the links of one but nothing checks or follows its rows.
inline constexpr Family kFamilies[] = {
    {u"mreport_tab", family_data::kMasterLinks, family_data::kMreport},
    {u"sheft_tab", family_data::kMasterLinks, family_data::kSheft},
    {u"rowshef_tab", family_data::kMasterLinks, family_data::kRowshef},
    {u"inbill_tab", family_data::kMasterLinks, family_data::kInbill},
    {u"accreg_tab", family_data::kMasterLinks, family_data::kAccreg},
    {u"kinreg_tab", family_data::kMasterLinks, family_data::kKinreg},
    {u"accbud_tab", family_data::kMasterLinks, family_data::kAccbud},
    {u"sendev_tab", family_data::kMasterLinks, {}},
    {u"invoice_tab", family_data::kInvoiceLinks, family_data::kInvoice},
    {u"stock_tab", family_data::kStockLinks, family_data::kStock},
};

// The family of a master table; null for a table that is no master.
inline const Family* familyOf(QStringView table)
{
    for (const Family& f : kFamilies)
        if (table == QStringView(f.master))
            return &f;
    return nullptr;
}

// The members of a master table's family; empty for any other table.
inline std::span<const Member> membersOf(QStringView table)
{
    const Family* f = familyOf(table);
    return f ? f->members : std::span<const Member>{};
}

// The member entry of a table that is a detail (`detail`) or carries link columns (its first, for a
// table with two masters); null when there is none.
inline const Member* memberEntry(QStringView table, bool detail)
{
    for (const Family& f : kFamilies)
        for (const Member& m : f.members)
            if ((detail ? m.detail : !m.links.empty()) && table == QStringView(m.table))
                return &m;
    return nullptr;
}

}  // namespace tarvelo::records
