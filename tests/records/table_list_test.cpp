#include "records/table_list.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace tarvelo;
using records::TableList;

namespace {

class FilledList : public ::testing::Test {
protected:
    TableList list;
    data::TextListModel combo;
    void SetUp() override
    {
        combo.append("All");
        combo.setCurrentIndex(0);
        records::Fill_Syn_Tabs(list, combo);
    }
};

TEST_F(FilledList, HoldsTheTablesInProcessingOrder)
{
    EXPECT_EQ(list.Tab_Count, 62);
    EXPECT_EQ(list.Syn_Tabs[0], "branch_tab");
    EXPECT_EQ(list.Syn_Tabs[1], "proj_tab");
    EXPECT_EQ(list.Syn_Tabs[6], "notic_tab");
    EXPECT_EQ(list.Syn_Tabs[31], "Aweb_tab");
    EXPECT_EQ(list.Syn_Tabs[61], "accbud_tab");
    EXPECT_TRUE(list.Syn_Tabs[62].isEmpty());
    EXPECT_TRUE(list.Syn_Tabs[100].isEmpty());

    QSet<QString> distinct(list.Syn_Tabs.begin(), list.Syn_Tabs.begin() + 62);
    EXPECT_EQ(distinct.size(), 62);

    // Detail tables are processed before their masters.
    auto before = [&](const char* detail, const char* master) { return list.slotOf(QString(detail)) < list.slotOf(QString(master)); };
    EXPECT_TRUE(before("sreport_tab", "mreport_tab"));
    EXPECT_TRUE(before("rst_tab", "rowshef_tab"));
    EXPECT_TRUE(before("rowvoi_tab", "invoice_tab"));
    EXPECT_TRUE(before("inbill_tab", "invoice_tab"));
    EXPECT_TRUE(before("rowacc_tab", "accreg_tab"));
    EXPECT_TRUE(before("stocgro_tab", "stock_tab"));
    EXPECT_TRUE(before("kinregr_tab", "kinreg_tab"));
    EXPECT_TRUE(before("rowbud_tab", "accbud_tab"));
}

TEST_F(FilledList, PickListGetsAllThenTheNamesAgainOnEveryFill)
{
    ASSERT_EQ(combo.count(), 63);
    EXPECT_EQ(combo.items()[0], "All");
    EXPECT_EQ(combo.items()[1], "branch_tab");
    EXPECT_EQ(combo.items()[62], "accbud_tab");
    records::Fill_Syn_Tabs(list, combo);
    EXPECT_EQ(combo.count(), 125);
    EXPECT_EQ(list.Tab_Count, 62);
    EXPECT_EQ(list.Syn_Tabs[0], "branch_tab");
}

TEST_F(FilledList, RaisingFindsTheSlotByExactName)
{
    list.raiseSend(u"notic_tab");
    list.raiseSend(u"notic_tab");
    list.raiseRece(u"branch_tab");
    list.raiseSendDel(u"rst_tab");
    list.raiseReceDel(u"accbud_tab");
    // Names that are not in the list, or differ only in case, raise nothing.
    list.raiseSend(u"work_tab");
    list.raiseSend(u"aweb_tab");
    list.raiseSend(u"Notic_tab");
    list.raiseSend(u"");
    for (int i = 0; i < TableList::Slots; ++i) {
        EXPECT_EQ(list.Tab_Send[size_t(i)], i == 6 ? 2 : 0) << i;
        EXPECT_EQ(list.Tab_Rece[size_t(i)], i == 0 ? 1 : 0) << i;
        EXPECT_EQ(list.Tab_SendDel[size_t(i)], i == 10 ? 1 : 0) << i;
        EXPECT_EQ(list.Tab_ReceDel[size_t(i)], i == 61 ? 1 : 0) << i;
    }
    EXPECT_EQ(list.slotOf(u"Aweb_tab"), 31);
    EXPECT_EQ(list.slotOf(u"Branch_tab"), -1);
}

TEST_F(FilledList, SettingAllCountersIncludesTheFirstFreeSlot)
{
    list.setAllCounters(1);
    for (int i = 0; i <= 62; ++i) {
        EXPECT_EQ(list.Tab_Send[size_t(i)], 1);
        EXPECT_EQ(list.Tab_ReceDel[size_t(i)], 1);
    }
    EXPECT_EQ(list.Tab_Send[63], 0);
    EXPECT_EQ(list.Tab_Rece[100], 0);
}

TEST(EmptyList, FindsNothingBeforeTheFirstFill)
{
    TableList list;
    EXPECT_EQ(list.Tab_Count, 0);
    EXPECT_EQ(list.slotOf(u"branch_tab"), -1);
    list.raiseSend(u"branch_tab");
    EXPECT_EQ(list.Tab_Send[0], 0);
}

}  // namespace
