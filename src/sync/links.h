#pragma once
#include "data/database.h"
#include "data/recordset.h"
#include "data/sql_text.h"

#include <QString>
#include <QStringList>
#include <initializer_list>

namespace tarvelo::sync {

// Link columns a pass copies besides the common ones; empty for a table without any.
inline std::initializer_list<const char16_t*> linkColumns(QStringView table, bool& isMaster)
{
    static const std::initializer_list<const char16_t*> master = {u"CRS1", u"DRS1"};
    static const std::initializer_list<const char16_t*> invoice = {u"CRS1", u"CRS2", u"CRS3", u"DRS1"};
    static const std::initializer_list<const char16_t*> stock = {u"CRS1", u"CRS2", u"DRS1"};
    static const std::initializer_list<const char16_t*> attendance = {u"NRS1", u"DRS1", u"NRS2", u"DRS2"};
    static const std::initializer_list<const char16_t*> detail = {u"NRS1", u"DRS1"};
    isMaster = true;
    for (const char16_t* m : {u"mreport_tab", u"sheft_tab", u"rowshef_tab", u"inbill_tab", u"accreg_tab",
                              u"kinreg_tab", u"accbud_tab", u"sendev_tab"})
        if (table == QStringView(m))
            return master;
    if (table == u"invoice_tab")
        return invoice;
    if (table == u"stock_tab")
        return stock;
    isMaster = false;
    if (table == u"rst_tab")
        return attendance;
    for (const char16_t* d : {u"sreport_tab", u"sheftrow_tab", u"rowvoi_tab", u"rowacc_tab", u"seri_tab",
                              u"stocinf_tab", u"stocgro_tab", u"kinregr_tab", u"rowbud_tab"})
        if (table == QStringView(d))
            return detail;
    return {};
}

// The detail tables whose rows name their master in NRS1; empty for a table that is no master.
inline QStringList detailTables(QStringView master)
{
    if (master == u"invoice_tab")
        return {QStringLiteral("rowvoi_tab"), QStringLiteral("seri_tab")};
    for (const auto& [m, d] : {std::pair{u"accbud_tab", u"rowbud_tab"}, {u"accreg_tab", u"rowacc_tab"},
                               {u"inbill_tab", u"rowacc_tab"}, {u"mreport_tab", u"sreport_tab"},
                               {u"sheft_tab", u"sheftrow_tab"}, {u"stock_tab", u"stocinf_tab"},
                               {u"rowshef_tab", u"rst_tab"}, {u"kinreg_tab", u"kinregr_tab"}})
        if (master == QStringView(m))
            return {QString::fromUtf16(d)};
    return {};
}

// Removes or detaches the detail rows of a master that belong to another revision than `drs1`,
// on one side (`remove` and `update` are that side's Delete and Update calls). False when a
// statement failed.
template <class Remove, class Update>
bool removeStaleDetails(QStringView master, const QString& noRec, const QString& drs1, Remove remove, Update update)
{
    using data::sqlLiteral;
    const QString clause = "where NRS1 = " + sqlLiteral(noRec) + " and DRS1 <> " + sqlLiteral(drs1);
    auto del = [&](const char* table) { return remove(QString::fromLatin1(table), clause); };
    if (master == u"mreport_tab")
        return del("sreport_tab");
    if (master == u"sheft_tab")
        return del("sheftrow_tab");
    if (master == u"invoice_tab")
        return del("rowvoi_tab") && del("seri_tab");
    if (master == u"inbill_tab")
        return del("rowacc_tab");
    if (master == u"stock_tab")
        return del("stocinf_tab");
    if (master == u"rowshef_tab") {
        // Attendance rows a shift document owns go with it; the others are only detached.
        return remove(QStringLiteral("rst_tab"), clause + " and KinSave = " + sqlLiteral(u"3"))
               && update(QStringLiteral("KinSave = ") + sqlLiteral(u"0") + ",NRS1 = " + sqlLiteral(u"--"),
                         QStringLiteral("rst_tab"),
                         "where NRS1 = " + sqlLiteral(noRec) + "  and DRS1 <> " + sqlLiteral(drs1)
                             + " and KinSave <> " + sqlLiteral(u"3"));
    }
    return true;
}

}  // namespace tarvelo::sync
