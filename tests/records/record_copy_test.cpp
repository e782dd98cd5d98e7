#include "data/sql_text.h"
#include "records/column_table.h"
#include "records/record_copy.h"
#include "records_world.h"

#include <gtest/gtest.h>

#include <QMap>

using namespace tarvelo;
using namespace tarvelo::records;
using test::RecordsWorld;
using test::ScratchDatabase;

namespace {

struct ColumnInfo {
    QString name;
    bool binary = false;
    int maxLength = 0;  // characters; 0 when unlimited for our purpose
};

std::vector<ColumnInfo> columnInfo(const ScratchDatabase& d, const QString& table)
{
    std::vector<ColumnInfo> out;
    const data::ResultData r = d.query(
        "select column_name, data_type, coalesce(character_maximum_length, 0) from information_schema.columns "
        "where table_schema = '" + d.name() + "' and table_name = '" + table.toLower()
        + "' order by ordinal_position");
    for (const auto& row : r.rows) {
        const QString type = row[1].toString().toLower();
        out.push_back({row[0].toString(), type.contains(u"blob") || type.contains(u"binary"),
                       int(qMin<qlonglong>(row[2].toLongLong(), 100000))});
    }
    return out;
}

// A value unique to the column and the side it was written on: Arabic text, or bytes that are not
// valid UTF-8 for pictures.
QVariant sampleValue(const ColumnInfo& c, const QString& tag)
{
    if (c.binary) {
        QByteArray bytes = tag.toUtf8();
        for (int b = 0; b < 256; ++b)
            bytes.append(char(b));
        return bytes;
    }
    QString text = tag + u':' + c.name + QStringLiteral(" صورة");
    if (c.maxLength > 0)
        text.truncate(c.maxLength);
    return text;
}

QString literal(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::QByteArray)
        return "X'" + QString::fromLatin1(v.toByteArray().toHex()) + u'\'';
    return data::sqlLiteral(v.toString());
}

// Inserts a row with every column filled with its sample value; `overrides` replace single columns
// (a null QVariant writes NULL).
void insertRow(const ScratchDatabase& d, const QString& table, const QString& noRec, const QString& tag,
               const QMap<QString, QVariant>& overrides = {})
{
    QStringList names, values;
    for (const ColumnInfo& c : columnInfo(d, table)) {
        if (c.name.compare(u"id", Qt::CaseInsensitive) == 0)
            continue;
        names << "`" + c.name + "`";
        QVariant v = sampleValue(c, tag);
        if (c.name.compare(u"no_rec", Qt::CaseInsensitive) == 0)
            v = noRec;
        for (auto it = overrides.begin(); it != overrides.end(); ++it)
            if (it.key().compare(c.name, Qt::CaseInsensitive) == 0)
                v = it.value();
        values << literal(v);
    }
    d.exec("insert into " + table + " (" + names.join(u',') + ") values (" + values.join(u',') + ")");
}

// The row as the database holds it, by lower-case column name.
QMap<QString, QVariant> readRow(const ScratchDatabase& d, const QString& table, const QString& noRec)
{
    const data::ResultData r = d.query("select * from " + table + " where no_rec = " + data::sqlLiteral(noRec));
    QMap<QString, QVariant> out;
    if (r.rows.size() != 1)
        return out;
    for (size_t i = 0; i < r.columns.size(); ++i)
        out.insert(r.columns[i].name.toLower(), r.rows[0][i]);
    return out;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    if (a.typeId() == QMetaType::QByteArray || b.typeId() == QMetaType::QByteArray)
        return a.toByteArray() == b.toByteArray();
    return a.toString() == b.toString();
}

const ColumnEntry* entryFor(const TableColumns* row, const QString& column)
{
    if (!row)
        return nullptr;
    for (const ColumnEntry& e : row->entries)
        if (QStringView(e.column).compare(column, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

enum class Direction { Send, Receive };  // local to server, server to local

// Points Rs_Source and Rs_Target at the row `noRec` of both sides for the given direction.
void openPair(RecordsWorld& w, Direction dir, const QString& table, const QString& noRec)
{
    const QString clause = "where no_rec = " + data::sqlLiteral(noRec);
    if (dir == Direction::Send) {
        ASSERT_TRUE(w.db.Open_Rs_Loc(w.vars.Rs_Source, table, clause)) << w.db.lastError.toStdString();
        ASSERT_TRUE(w.db.Open_Rs_Ser(w.vars.Rs_Target, table, clause)) << w.db.lastError.toStdString();
    } else {
        ASSERT_TRUE(w.db.Open_Rs_Ser(w.vars.Rs_Source, table, clause)) << w.db.lastError.toStdString();
        ASSERT_TRUE(w.db.Open_Rs_Loc(w.vars.Rs_Target, table, clause)) << w.db.lastError.toStdString();
    }
}

// Copies a row of every synchronised table, saves the target and reads it back: the table's own
// columns carry the source's values (the two set columns of notic_tab excepted), every other column
// keeps the target's.
void copyEveryTable(Direction dir)
{
    RecordsWorld w;
    w.run.config.Riv_Server = QStringLiteral("999999");  // every gate open
    const ScratchDatabase& from = dir == Direction::Send ? w.branchDb : w.serverDb;
    const ScratchDatabase& to = dir == Direction::Send ? w.serverDb : w.branchDb;
    const QString noRec = QStringLiteral("770000001");  // another branch's row: the hook stays out

    for (const char16_t* name : synchronisedTables()) {
        const QString table = QString::fromUtf16(name);
        SCOPED_TRACE(table.toStdString());
        insertRow(from, table, noRec, QStringLiteral("مصدر"));
        insertRow(to, table, noRec, QStringLiteral("هدف"));
        const QMap<QString, QVariant> source = readRow(from, table, noRec);
        const QMap<QString, QVariant> before = readRow(to, table, noRec);
        ASSERT_FALSE(source.isEmpty());

        openPair(w, dir, table, noRec);
        EXPECT_TRUE(Copy_Reco(w.ctx, table));
        w.vars.Rs_Target->update();

        const QMap<QString, QVariant> after = readRow(to, table, noRec);
        const TableColumns* row = findTableColumns(table);
        int copied = 0;
        for (auto it = after.begin(); it != after.end(); ++it) {
            const ColumnEntry* e = entryFor(row, it.key());
            QVariant expected = before.value(it.key());
            if (e && e->kind == EntryKind::Copy)
                expected = source.value(it.key());
            else if (e && e->kind == EntryKind::SetToOne)
                expected = QStringLiteral("1");
            else if (e && e->kind == EntryKind::RedTimStamp)
                expected = "20" + source.value(it.key()).toString().mid(2, 14);
            copied += e ? 1 : 0;
            EXPECT_TRUE(sameValue(it.value(), expected)) << "column " << it.key().toStdString();
        }
        EXPECT_EQ(copied, row ? int(row->entries.size()) : 0);
    }
    EXPECT_EQ(w.branch.Bra_Only, -1);
    EXPECT_EQ(w.branch.Chk_Rec, 0);
}

}  // namespace

TEST(RecordCopy, SendCarriesOnlyEachTablesOwnColumns)
{
    copyEveryTable(Direction::Send);
}

TEST(RecordCopy, ReceiveCarriesOnlyEachTablesOwnColumns)
{
    copyEveryTable(Direction::Receive);
}

TEST(RecordCopy, NamesWithoutARowCopyNothingAndReadNothing)
{
    RecordsWorld w;
    // No recordset is open: any read would throw.
    for (const QString& name : {QStringLiteral("Aweb_tab"), QStringLiteral("aweb_tab"), QStringLiteral("Branch_tab"),
                                QStringLiteral("BRANCH_TAB"), QString(), QStringLiteral("atten_rec"),
                                QStringLiteral("bank_tab"), QStringLiteral("kindoc_tab")})
        EXPECT_TRUE(Copy_Reco(w.ctx, name)) << name.toStdString();

    // With rows open, a case variant of a real table leaves the target without any change.
    insertRow(w.branchDb, QStringLiteral("branch_tab"), QStringLiteral("01"), QStringLiteral("src"));
    insertRow(w.serverDb, QStringLiteral("branch_tab"), QStringLiteral("01"), QStringLiteral("dst"));
    openPair(w, Direction::Send, QStringLiteral("branch_tab"), QStringLiteral("01"));
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("Branch_tab")));
    EXPECT_FALSE(w.vars.Rs_Target->editPending());
    EXPECT_EQ(w.branch.Bra_Only, -1);
}

TEST(RecordCopy, NewTargetRowKeepsArabicTextAndPicturesIntact)
{
    RecordsWorld w;
    const QString table = QStringLiteral("user_tab");
    const QString arabic = QStringLiteral("محمد عبدالله – فرع الرياض");
    QByteArray picture;
    for (int i = 0; i < 300000; ++i)
        picture.append(char((i * 7919) & 0xFF));
    insertRow(w.branchDb, table, QStringLiteral("010000042"), QStringLiteral("src"),
              {{QStringLiteral("Sit1"), arabic}, {QStringLiteral("Fld_Picture"), picture},
               {QStringLiteral("Sit2"), QVariant()}, {QStringLiteral("kin2"), QString()}});

    // Send: the local row into a new server row; receive: that server row into a new local row.
    for (Direction dir : {Direction::Send, Direction::Receive}) {
        SCOPED_TRACE(dir == Direction::Send ? "send" : "receive");
        const ScratchDatabase& to = dir == Direction::Send ? w.serverDb : w.branchDb;
        const QString noRec = dir == Direction::Send ? QStringLiteral("010000042") : QStringLiteral("010000043");
        const QString sourceClause = "where no_rec = " + data::sqlLiteral(QStringLiteral("010000042"));
        const QString targetClause = "where no_rec = " + data::sqlLiteral(noRec);
        if (dir == Direction::Send) {
            ASSERT_TRUE(w.db.Open_Rs_Loc(w.vars.Rs_Source, table, sourceClause));
            ASSERT_TRUE(w.db.Open_Rs_Ser(w.vars.Rs_Target, table, targetClause));
        } else {
            ASSERT_TRUE(w.db.Open_Rs_Ser(w.vars.Rs_Source, table, sourceClause));
            ASSERT_TRUE(w.db.Open_Rs_Loc(w.vars.Rs_Target, table, targetClause));
        }
        ASSERT_EQ(w.vars.Rs_Source->recordCount(), 1);
        ASSERT_EQ(w.vars.Rs_Target->recordCount(), 0);
        w.vars.Rs_Target->addNew();
        w.vars.Rs_Target->setValue(u"no_rec", noRec);
        EXPECT_TRUE(Copy_Reco(w.ctx, table));
        w.vars.Rs_Target->update();

        const QString where = " from user_tab where no_rec = " + data::sqlLiteral(noRec);
        EXPECT_EQ(to.scalar("select hex(Sit1)" + where), QString::fromLatin1(arabic.toUtf8().toHex().toUpper()));
        EXPECT_EQ(to.scalar("select hex(Fld_Picture)" + where),
                  QString::fromLatin1(picture.toHex().toUpper()));
        EXPECT_EQ(to.scalar("select Sit2 is null" + where), QStringLiteral("1"));  // Null stays Null
        EXPECT_EQ(to.scalar("select kin2 = ''" + where), QStringLiteral("1"));     // and empty stays empty
        // Nothing beyond the table's own columns: the common columns keep the table's defaults.
        EXPECT_EQ(to.scalar("select coalesce(No_Branch, 'null')" + where), QStringLiteral("null"));
        EXPECT_EQ(to.scalar("select SynDele" + where), QStringLiteral("0"));
    }
}

TEST(RecordCopy, RevisionGatesAreTestedAsTextInBothDirections)
{
    struct Case {
        const char* revision;
        bool custody, proj, side, user;  // gates 010196, 010217, 010218, 010218
    };
    const Case cases[] = {
        {"", false, false, false, false},          {"0", false, false, false, false},
        // "0102" is above "010196" as text: its fourth character is greater.
        {"0102", true, false, false, false},       {"010195", false, false, false, false},
        {"010196", true, false, false, false},     {"010197", true, false, false, false},
        {"010216", true, false, false, false},     {"010217", true, true, false, false},
        {"010218", true, true, true, true},        {"010219", true, true, true, true},
        {"1", true, true, true, true},             {"0102170", true, true, false, false},
    };
    const QString tables[] = {QStringLiteral("custody_tab"), QStringLiteral("proj_tab"), QStringLiteral("side_tab"),
                              QStringLiteral("user_tab")};

    RecordsWorld w;
    const QString noRec = QStringLiteral("030000001");
    for (const QString& t : tables) {
        insertRow(w.branchDb, t, noRec, QStringLiteral("loc"));
        insertRow(w.serverDb, t, noRec, QStringLiteral("ser"));
    }
    for (Direction dir : {Direction::Send, Direction::Receive}) {
        for (int ti = 0; ti < 4; ++ti) {
            const QString& table = tables[ti];
            openPair(w, dir, table, noRec);
            data::Recordset& src = *w.vars.Rs_Source;
            data::Recordset& dst = *w.vars.Rs_Target;
            const TableColumns* row = findTableColumns(table);
            for (const Case& c : cases) {
                SCOPED_TRACE(table.toStdString() + " at \"" + c.revision + "\""
                             + (dir == Direction::Send ? " send" : " receive"));
                const bool open = ti == 0 ? c.custody : ti == 1 ? c.proj : ti == 2 ? c.side : c.user;
                w.run.config.Riv_Server = QString::fromLatin1(c.revision);
                EXPECT_TRUE(Copy_Reco(w.ctx, table));
                int gatedCopied = 0, gated = 0;
                for (const ColumnEntry& e : row->entries) {
                    const bool copied = dst.text(e.column) == src.text(e.column);
                    if (e.minRevision) {
                        ++gated;
                        gatedCopied += copied ? 1 : 0;
                    } else {
                        EXPECT_TRUE(copied) << QString::fromUtf16(e.column).toStdString();
                    }
                }
                EXPECT_EQ(gatedCopied, open ? gated : 0);
                if (ti == 0) {
                    EXPECT_EQ(dst.editPending(), open);  // a shut custody_tab gate writes nothing at all
                }
                dst.cancelUpdate();
            }
        }
    }
}

TEST(RecordCopy, NoticeReadStampIsRebuiltAndReadFlagSet)
{
    struct Case {
        const char* noRec;
        QVariant redTim;
        QVariant redRec;
        const char* expected;
    };
    const Case cases[] = {
        {"N1", QStringLiteral("2024031512304500"), QStringLiteral("0"), "2024031512304500"},
        {"N2", QStringLiteral("1924031512304500"), QStringLiteral("1"), "2024031512304500"},
        {"N3", QStringLiteral("AB24031512304500XY"), QVariant(), "2024031512304500"},
        {"N4", QStringLiteral("abc"), QStringLiteral("7"), "20c"},
        {"N5", QStringLiteral("7"), QStringLiteral(""), "20"},
        {"N6", QStringLiteral(""), QStringLiteral("0"), "20"},
        {"N7", QVariant(), QStringLiteral("0"), "20"},
        {"N8", QStringLiteral("2020240101000000"), QStringLiteral("0"), "2020240101000000"},
    };
    RecordsWorld w;
    for (const Case& c : cases) {
        insertRow(w.branchDb, QStringLiteral("notic_tab"), QString::fromLatin1(c.noRec), QStringLiteral("loc"),
                  {{QStringLiteral("red_tim"), c.redTim}, {QStringLiteral("red_rec"), c.redRec}});
        insertRow(w.serverDb, QStringLiteral("notic_tab"), QString::fromLatin1(c.noRec), QStringLiteral("ser"),
                  {{QStringLiteral("red_rec"), QStringLiteral("0")}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.noRec);
        openPair(w, Direction::Send, QStringLiteral("notic_tab"), QString::fromLatin1(c.noRec));
        EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("notic_tab")));
        w.vars.Rs_Target->update();
        const QMap<QString, QVariant> saved = readRow(w.serverDb, QStringLiteral("notic_tab"),
                                                      QString::fromLatin1(c.noRec));
        EXPECT_EQ(saved.value("red_tim").toString(), QString::fromLatin1(c.expected));
        EXPECT_EQ(saved.value("red_rec").toString(), QStringLiteral("1"));
        EXPECT_EQ(saved.value("no_note").toString(), QStringLiteral("loc:No_Note صورة"));
    }
}

class OwnBranchHook : public ::testing::Test {
protected:
    void SetUp() override
    {
        w.fillTables();
        // The first free slot after the list is counted; the one after it is not.
        w.tables.Tab_Send[size_t(w.tables.Tab_Count) + 1] = 5;
    }

    void putBranchRow(const ScratchDatabase& d, const QString& noRec, const QVariant& kinSyn, const QVariant& set1,
                      const QVariant& set2, const QVariant& set3)
    {
        insertRow(d, QStringLiteral("branch_tab"), noRec, QStringLiteral("x"),
                  {{QStringLiteral("kinSyn"), kinSyn},
                   {QStringLiteral("set1"), set1},
                   {QStringLiteral("set2"), set2},
                   {QStringLiteral("set3"), set3}});
    }

    void expectCounters(qint32 value)
    {
        for (int i = 0; i <= w.tables.Tab_Count; ++i) {
            EXPECT_EQ(w.tables.Tab_Send[size_t(i)], value) << "slot " << i;
            EXPECT_EQ(w.tables.Tab_Rece[size_t(i)], value) << "slot " << i;
            EXPECT_EQ(w.tables.Tab_SendDel[size_t(i)], value) << "slot " << i;
            EXPECT_EQ(w.tables.Tab_ReceDel[size_t(i)], value) << "slot " << i;
        }
        EXPECT_EQ(w.tables.Tab_Send[size_t(w.tables.Tab_Count) + 1], 5);
    }

    void expectSettingsUntouched()
    {
        EXPECT_EQ(w.branch.Bra_Only, -1);
        EXPECT_EQ(w.branch.Bra_Set1, -1);
        EXPECT_EQ(w.branch.Bra_Set2, -1);
        EXPECT_EQ(w.branch.Bra_Set3, -1);
        EXPECT_EQ(w.branch.Chk_Rec, 0);
        EXPECT_EQ(w.branch.Chk_Del, 0);
        expectCounters(0);
    }

    RecordsWorld w;
};

TEST_F(OwnBranchHook, SendingOwnRowReloadsSettingsAndMarksEveryTable)
{
    ASSERT_EQ(w.tables.Tab_Count, 62);
    putBranchRow(w.branchDb, QStringLiteral("01"), QStringLiteral("1"), QStringLiteral(""), QStringLiteral("2.5"),
                 QStringLiteral("3.5"));
    putBranchRow(w.serverDb, QStringLiteral("01"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                 QStringLiteral("0"));
    openPair(w, Direction::Send, QStringLiteral("branch_tab"), QStringLiteral("01"));
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("branch_tab")));
    EXPECT_EQ(w.branch.Bra_Only, 1);
    EXPECT_EQ(w.branch.Bra_Set1, 0);
    EXPECT_EQ(w.branch.Bra_Set2, 2);
    EXPECT_EQ(w.branch.Bra_Set3, 4);
    EXPECT_EQ(w.branch.Chk_Rec, 1);
    EXPECT_EQ(w.branch.Chk_Del, 1);
    expectCounters(1);
    EXPECT_EQ(w.vars.Rs_Target->text(u"set2"), QStringLiteral("2.5"));
}

TEST_F(OwnBranchHook, ReceivingOwnRowReloadsSettingsToo)
{
    putBranchRow(w.serverDb, QStringLiteral("01"), QStringLiteral(" 0 "), QStringLiteral("7 days"),
                 QStringLiteral("-1.5"), QStringLiteral("1e2"));
    putBranchRow(w.branchDb, QStringLiteral("01"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"),
                 QStringLiteral("1"));
    openPair(w, Direction::Receive, QStringLiteral("branch_tab"), QStringLiteral("01"));
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("branch_tab")));
    EXPECT_EQ(w.branch.Bra_Only, 0);
    EXPECT_EQ(w.branch.Bra_Set1, 7);
    EXPECT_EQ(w.branch.Bra_Set2, -2);
    EXPECT_EQ(w.branch.Bra_Set3, 100);
    EXPECT_EQ(w.branch.Chk_Rec, 1);
    expectCounters(1);
}

TEST_F(OwnBranchHook, AnotherBranchsRowLeavesSettingsAlone)
{
    // Unreadable settings too: another branch's row is never read for them.
    putBranchRow(w.branchDb, QStringLiteral("02"), QVariant(), QStringLiteral("99999"), QStringLiteral("x"),
                 QStringLiteral("4"));
    putBranchRow(w.serverDb, QStringLiteral("02"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                 QStringLiteral("0"));
    openPair(w, Direction::Send, QStringLiteral("branch_tab"), QStringLiteral("02"));
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("branch_tab")));
    expectSettingsUntouched();
    EXPECT_EQ(w.vars.Rs_Target->text(u"set3"), QStringLiteral("4"));
    EXPECT_TRUE(w.vars.Rs_Target->isNull(u"kinSyn"));

    // A row without a number is nobody's own row, even where the branch number is empty.
    w.run.config.My_Branch.clear();
    w.vars.Rs_Source->setValue(u"no_rec", QVariant());
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("branch_tab")));
    expectSettingsUntouched();
}

TEST_F(OwnBranchHook, UnreadableSettingIsAnErrorForTheCallerAfterTheEarlierSettings)
{
    // The settings are set in their order: those before the bad one are new, the rest and the
    // counters keep their old values.
    struct Case {
        QVariant kinSyn, set1, set2, set3;
        qint16 only, s1, s2, s3;
    };
    const Case cases[] = {
        {QStringLiteral("1"), QVariant(), QStringLiteral("1"), QStringLiteral("1"), 1, -1, -1, -1},
        {QVariant(), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"), -1, -1, -1, -1},
        {QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("32768"), 3, 4, 5, -1},
        {QStringLiteral("1"), QStringLiteral("32767.5"), QStringLiteral("1"), QStringLiteral("1"), 1, -1, -1, -1},
        {QStringLiteral("-32769"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"), -1, -1, -1, -1},
        {QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("1e9"), QStringLiteral("1"), 2, 0, -1, -1},
    };
    putBranchRow(w.serverDb, QStringLiteral("01"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                 QStringLiteral("0"));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n++);
        w.branch.Bra_Only = w.branch.Bra_Set1 = w.branch.Bra_Set2 = w.branch.Bra_Set3 = -1;
        w.branchDb.exec(QStringLiteral("delete from branch_tab"));
        putBranchRow(w.branchDb, QStringLiteral("01"), c.kinSyn, c.set1, c.set2, c.set3);
        openPair(w, Direction::Send, QStringLiteral("branch_tab"), QStringLiteral("01"));
        EXPECT_THROW(Copy_Reco(w.ctx, QStringLiteral("branch_tab")), ValueConversionError);
        EXPECT_EQ(w.branch.Bra_Only, c.only);
        EXPECT_EQ(w.branch.Bra_Set1, c.s1);
        EXPECT_EQ(w.branch.Bra_Set2, c.s2);
        EXPECT_EQ(w.branch.Bra_Set3, c.s3);
        EXPECT_EQ(w.branch.Chk_Rec, 0);
        EXPECT_EQ(w.branch.Chk_Del, 0);
        expectCounters(0);
        // The columns were assigned before the hook; the caller decides about the row.
        EXPECT_TRUE(w.vars.Rs_Target->editPending());
    }

    // The extremes that still fit.
    w.branchDb.exec(QStringLiteral("delete from branch_tab"));
    putBranchRow(w.branchDb, QStringLiteral("01"), QStringLiteral("-32768.5"), QStringLiteral("32767.4"),
                 QStringLiteral("-0.5"), QStringLiteral("0.5"));
    openPair(w, Direction::Send, QStringLiteral("branch_tab"), QStringLiteral("01"));
    EXPECT_TRUE(Copy_Reco(w.ctx, QStringLiteral("branch_tab")));
    EXPECT_EQ(w.branch.Bra_Only, -32768);
    EXPECT_EQ(w.branch.Bra_Set1, 32767);
    EXPECT_EQ(w.branch.Bra_Set2, 0);
    EXPECT_EQ(w.branch.Bra_Set3, 0);
}

TEST(RecordCopy, DatabaseErrorsReachTheCaller)
{
    RecordsWorld w;
    EXPECT_THROW(Copy_Reco(w.ctx, QStringLiteral("city_tab")), data::DbError);  // nothing open

    insertRow(w.branchDb, QStringLiteral("city_tab"), QStringLiteral("05"), QStringLiteral("src"));
    insertRow(w.serverDb, QStringLiteral("city_tab"), QStringLiteral("05"), QStringLiteral("dst"));
    openPair(w, Direction::Send, QStringLiteral("city_tab"), QStringLiteral("05"));
    // Copying a branch_tab row out of a city_tab recordset: its columns are not there.
    EXPECT_THROW(Copy_Reco(w.ctx, QStringLiteral("branch_tab")), data::DbError);

    // A target past its last row has no current row.
    w.vars.Rs_Target->moveNext();
    EXPECT_THROW(Copy_Reco(w.ctx, QStringLiteral("city_tab")), data::DbError);
}

TEST(SettingNumber, LeadingNumberRoundedHalfToEven)
{
    const std::pair<const char*, int> cases[] = {
        {"1", 1},         {"", 0},          {"abc", 0},        {"12abc", 12},     {" 1 2 ", 12},
        {"2.5", 2},       {"3.5", 4},       {"-2.5", -2},      {"-3.5", -4},      {"0.5", 0},
        {"1.5", 2},       {"2.51", 3},      {"+7", 7},         {"- 4", -4},       {".", 0},
        {"-", 0},         {"1e3", 1000},    {"1E+2", 100},     {"25e-1", 2},      {"1d2", 100},
        {"5e", 5},        {"5e+", 5},       {"1.2.3", 1},      {"7-3", 7},        {"1e-400", 0},
        {"32767", 32767}, {"-32768", -32768}, {"\t9\n", 9},     {"٣", 0},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(leadingInt16(QString::fromUtf8(text)), expected) << '"' << text << '"';

    for (const char* text : {"32768", "32767.5", "-32769", "-32768.51", "1e400", "99999999999999999999"})
        EXPECT_THROW(leadingInt16(QString::fromUtf8(text)), ValueConversionError) << text;
}
