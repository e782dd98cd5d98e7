#include "records/table_list.h"

namespace tarvelo::records {

namespace {
// Detail tables stand before their masters, and branch_tab first: the passes rely on that order.
constexpr std::array<const char16_t*, TableList::TableCount> kTables = {
    u"branch_tab",  u"proj_tab",     u"usesho_tab",  u"users_tab",    u"user_tab",     u"branchsyn_tab",
    u"notic_tab",   u"picstream_tab", u"sreport_tab", u"mreport_tab",  u"rst_tab",      u"sheftrow_tab",
    u"rowvoi_tab",  u"rowacc_tab",   u"seri_tab",    u"stocinf_tab",  u"stocgro_tab",  u"kinregr_tab",
    u"rowbud_tab",  u"account_tab",  u"accreg_tab",  u"bank_tab",     u"equa_tab",     u"city_tab",
    u"color_tab",   u"educ_tab",     u"factory_tab", u"findev_tab",   u"gzakin_tab",   u"gzam_tab",
    u"advan_tab",   u"Aweb_tab",     u"inbill_tab",  u"inco_tab",     u"invoice_tab",  u"jops_tab",
    u"livi_tab",    u"modlt_tab",    u"modlx_tab",   u"modl_tab",     u"nati_tab",     u"rowshef_tab",
    u"sendev_tab",  u"secti_tab",    u"serim_tab",   u"sheft_tab",    u"side_tab",     u"soci_tab",
    u"stoccat_tab", u"stock_tab",    u"store_tab",   u"tran_tab",     u"unit_tab",     u"assign_tab",
    u"docum_tab",   u"kindoc_tab",   u"kinreg_tab",  u"custody_tab",  u"kincust_tab",  u"cust1_tab",
    u"cust2_tab",   u"accbud_tab",
};
}  // namespace

const std::array<const char16_t*, TableList::TableCount>& synchronisedTables()
{
    return kTables;
}

int TableList::slotOf(QStringView table) const
{
    for (int i = 0; i <= Tab_Count && i < Slots; ++i)
        if (!Syn_Tabs[size_t(i)].isEmpty() && QStringView(Syn_Tabs[size_t(i)]) == table)
            return i;
    return -1;
}

namespace {
void raise(const TableList& list, std::array<qint32, TableList::Slots>& counters, QStringView table)
{
    const int slot = list.slotOf(table);
    if (slot >= 0)
        ++counters[size_t(slot)];
}
}  // namespace

void TableList::raiseSend(QStringView table) { raise(*this, Tab_Send, table); }
void TableList::raiseRece(QStringView table) { raise(*this, Tab_Rece, table); }
void TableList::raiseSendDel(QStringView table) { raise(*this, Tab_SendDel, table); }
void TableList::raiseReceDel(QStringView table) { raise(*this, Tab_ReceDel, table); }

void TableList::setAllCounters(qint32 value)
{
    for (int i = 0; i <= Tab_Count && i < Slots; ++i) {
        Tab_Send[size_t(i)] = value;
        Tab_Rece[size_t(i)] = value;
        Tab_SendDel[size_t(i)] = value;
        Tab_ReceDel[size_t(i)] = value;
    }
}

void Fill_Syn_Tabs(TableList& list, data::TextListModel& Combo3)
{
    for (size_t i = 0; i < kTables.size(); ++i) {
        list.Syn_Tabs[i] = QString::fromUtf16(kTables[i]);
        Combo3.append(list.Syn_Tabs[i]);
    }
    list.Tab_Count = qint16(kTables.size());
}

}  // namespace tarvelo::records
