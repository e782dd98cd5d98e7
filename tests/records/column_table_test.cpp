#include "records/column_table.h"
#include "records/table_list.h"
#include "records_world.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace tarvelo;
using namespace tarvelo::records;

namespace {

const QStringList kCommonAndLinkColumns = {
    "no_rec", "No_Branch", "SynAdd", "SynDele", "DatTim1", "DatTim2", "Date_Edit_G", "Date_Edit_H", "Time_Edit",
    "Na_Rec", "Ne_Rec", "DesEna", "SpaBra", "HidSho", "No_UseEdi", "CRS1", "CRS2", "CRS3", "NRS1", "NRS2",
    "DRS1", "DRS2"};

}  // namespace

TEST(ColumnTable, EveryNamedColumnExistsInTheSchemaFixture)
{
    test::ScratchDatabase d(QStringLiteral("cols"));
    QSet<QString> present;  // "table.column", lower case: MariaDB matches both without case
    const data::ResultData r = d.query("select table_name, column_name from information_schema.columns "
                                       "where table_schema = '" + d.name() + "'");
    for (const auto& row : r.rows)
        present.insert((row[0].toString() + u'.' + row[1].toString()).toLower());
    ASSERT_FALSE(present.isEmpty());

    int checked = 0;
    for (const TableColumns& t : allTableColumns()) {
        for (const ColumnEntry& e : t.entries) {
            const QString key = (QString::fromUtf16(t.table) + u'.' + QString::fromUtf16(e.column)).toLower();
            EXPECT_TRUE(present.contains(key)) << "missing in the fixture: " << key.toStdString();
            ++checked;
        }
    }
    EXPECT_EQ(checked, 650);
}

TEST(ColumnTable, ShapeOfTheTable)
{
    const auto rows = allTableColumns();
    EXPECT_EQ(rows.size(), 61u);
    int withEntries = 0, entries = 0;
    QSet<QString> names;
    for (const TableColumns& t : rows) {
        const QString table = QString::fromUtf16(t.table);
        EXPECT_FALSE(names.contains(table)) << "two rows for " << table.toStdString();
        names.insert(table);
        EXPECT_EQ(findTableColumns(table), &t);
        withEntries += t.entries.empty() ? 0 : 1;
        entries += int(t.entries.size());
        QSet<QString> inRow;
        for (const ColumnEntry& e : t.entries) {
            const QString c = QString::fromUtf16(e.column);
            EXPECT_FALSE(kCommonAndLinkColumns.contains(c, Qt::CaseInsensitive))
                << table.toStdString() << " names the common or link column " << c.toStdString();
            EXPECT_FALSE(inRow.contains(c.toLower())) << table.toStdString() << " names " << c.toStdString()
                                                      << " twice";
            inRow.insert(c.toLower());
        }
    }
    EXPECT_EQ(withEntries, 48);
    EXPECT_EQ(entries, 650);

    // Every synchronised table but Aweb_tab has a row, and no other name does.
    for (const char16_t* name : synchronisedTables()) {
        const QString table = QString::fromUtf16(name);
        EXPECT_EQ(findTableColumns(table) == nullptr, table == u"Aweb_tab") << table.toStdString();
    }
    EXPECT_EQ(findTableColumns(u"Branch_tab"), nullptr);
    EXPECT_EQ(findTableColumns(u"BRANCH_TAB"), nullptr);
    EXPECT_EQ(findTableColumns(u""), nullptr);
    EXPECT_EQ(findTableColumns(u"atten_rec"), nullptr);
}

TEST(ColumnTable, GatesAndSetEntries)
{
    // table -> (revision, number of gated entries)
    struct Gate {
        const char16_t* table;
        const char16_t* revision;
        int count;
    };
    for (const Gate& g : {Gate{u"custody_tab", u"010196", 14}, Gate{u"proj_tab", u"010217", 11},
                          Gate{u"side_tab", u"010218", 2}, Gate{u"user_tab", u"010218", 1}}) {
        const TableColumns* t = findTableColumns(g.table);
        ASSERT_NE(t, nullptr);
        int gated = 0;
        for (const ColumnEntry& e : t->entries)
            if (e.minRevision) {
                EXPECT_EQ(QStringView(e.minRevision), QStringView(g.revision));
                ++gated;
            }
        EXPECT_EQ(gated, g.count) << QString::fromUtf16(g.table).toStdString();
    }
    int gatedTables = 0;
    for (const TableColumns& t : allTableColumns())
        for (const ColumnEntry& e : t.entries)
            if (e.minRevision) {
                ++gatedTables;
                break;
            }
    EXPECT_EQ(gatedTables, 4);

    const TableColumns* user = findTableColumns(u"user_tab");
    ASSERT_EQ(user->entries.size(), 79u);
    EXPECT_EQ(QStringView(user->entries[0].column), u"kin_sto");
    EXPECT_NE(user->entries[0].minRevision, nullptr);

    const TableColumns* notic = findTableColumns(u"notic_tab");
    ASSERT_EQ(notic->entries.size(), 4u);
    EXPECT_EQ(notic->entries[2].kind, EntryKind::SetToOne);
    EXPECT_EQ(QStringView(notic->entries[2].column), u"red_rec");
    EXPECT_EQ(notic->entries[3].kind, EntryKind::RedTimStamp);
    EXPECT_EQ(QStringView(notic->entries[3].column), u"red_tim");

    const TableColumns* rst = findTableColumns(u"rst_tab");
    bool lower = false, upper = false;
    for (const ColumnEntry& e : rst->entries) {
        lower |= QStringView(e.column) == u"No_user_1";
        upper |= QStringView(e.column) == u"No_User";
    }
    EXPECT_TRUE(lower && upper);
}
