#include "data/odbc.h"
#include "support/sync_rig.h"

#include <QMap>
#include <QRegularExpression>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

using Tally = QMap<QString, int>;

// Counts the engine's writes as "<database> <kind> <table>", databases named by their role.
class WriteTally {
public:
    explicit WriteTally(const SyncRig& rig)
    {
        names_.insert(rig.server.name().toLower(), QStringLiteral("server"));
        for (const auto& b : rig.branches)
            names_.insert(b->db.name().toLower(), b->number);
        data::observeStatements([this](const QString& database, const QString& sql) {
            static const QRegularExpression write(QStringLiteral("^\\s*(insert\\s+into|update|delete\\s+from)\\s+`?(\\w+)"),
                                                  QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch m = write.match(sql);
            if (counting && m.hasMatch())
                ++tally[names_.value(database.toLower(), database) + u' '
                        + m.captured(1).section(u' ', 0, 0).toLower() + u' ' + m.captured(2).toLower()];
        });
    }
    ~WriteTally() { data::observeStatements({}); }
    WriteTally(const WriteTally&) = delete;
    WriteTally& operator=(const WriteTally&) = delete;

    Tally tally;
    bool counting = true;  // off while the test itself edits a branch

private:
    QMap<QString, QString> names_;
};

// The web requests as "<script> <kin1> <kin2>".
Tally requestTally(const SyncRig& rig)
{
    Tally t;
    for (const QString& target : rig.web.requests()) {
        const QString path = target.section(u'?', 0, 0);
        const QUrlQuery q(target.section(u'?', 1));
        QString key = path.section(u'/', -1);
        for (const char* kin : {"kin1", "kin2"})
            if (q.hasQueryItem(QString::fromLatin1(kin)))
                key += u' ' + q.queryItemValue(QString::fromLatin1(kin));
        ++t[key];
    }
    return t;
}

std::string show(const Tally& t)
{
    std::string out;
    for (auto it = t.begin(); it != t.end(); ++it)
        out += it.key().toStdString() + ": " + std::to_string(it.value()) + '\n';
    return out;
}

}  // namespace

// Plain rows from two branches, an invoice with its lines, and the deletion of a record that was
// sent: the rows the engine writes and the requests it makes, per database, table and kind.
TEST(ExchangeFootprint, SmallExchangeWritesTheSameRowsAndMakesTheSameRequests)
{
    SyncRig rig;
    RigBranch& a = rig.A();
    for (const char* no : {"0100001", "0100002", "0100003"})
        a.add("city_tab", no, {{"Ne_Rec", "City"}});
    a.add("rowvoi_tab", "0100021", {{"NRS1", "0100020"}, {"DRS1", "R1"}});
    a.add("rowvoi_tab", "0100022", {{"NRS1", "0100020"}, {"DRS1", "R1"}});
    a.add("invoice_tab", "0100020", {{"DRS1", "R1"}, {"CRS1", "2"}, {"CRS2", "0"}, {"CRS3", "0"}});
    rig.B().add("city_tab", "0200001");
    rig.web.clearRequests();

    WriteTally writes(rig);
    ASSERT_GT(rig.settle(), 0);
    writes.counting = false;
    a.remove("city_tab", "0100002");
    writes.counting = true;
    ASSERT_GT(rig.settle(), 0);

    for (const auto& b : rig.branches) {
        EXPECT_EQ(b->count("city_tab"), 3) << b->number.toStdString();
        EXPECT_EQ(b->count("rowvoi_tab", "NRS1 = '0100020'"), 2) << b->number.toStdString();
        EXPECT_EQ(b->count("atten_rec"), 0) << b->number.toStdString();
    }

    // As the engine wrote and asked when these figures were taken; a change of engine must keep them.
    const Tally expectedWrites{
        {"01 delete atten_rec", 6},
        {"01 delete city_tab", 1},
        {"01 delete picstream_tab", 1},
        {"01 insert atten_rec", 18},
        {"01 insert city_tab", 1},
        {"01 update atten_rec", 27},
        {"01 update city_tab", 8},
        {"01 update invoice_tab", 2},
        {"01 update rowvoi_tab", 2},
        {"02 delete atten_rec", 6},
        {"02 delete city_tab", 1},
        {"02 delete picstream_tab", 1},
        {"02 insert atten_rec", 18},
        {"02 insert city_tab", 3},
        {"02 insert invoice_tab", 1},
        {"02 insert rowvoi_tab", 2},
        {"02 update atten_rec", 16},
        {"02 update city_tab", 6},
        {"02 update invoice_tab", 1},
        {"03 delete atten_rec", 6},
        {"03 delete city_tab", 1},
        {"03 delete picstream_tab", 1},
        {"03 insert atten_rec", 18},
        {"03 insert city_tab", 4},
        {"03 insert invoice_tab", 1},
        {"03 insert rowvoi_tab", 2},
        // One fewer since 02's answer to 01's deletion closing, addressed to 01, stays out of this ledger.
        {"03 update atten_rec", 13},
        {"03 update city_tab", 5},
        {"03 update invoice_tab", 1},
        {"server delete city_tab", 1},
        {"server delete picstream_tab", 1},
        {"server insert city_tab", 4},
        {"server insert invoice_tab", 1},
        {"server insert rowvoi_tab", 2},
        {"server update city_tab", 4},
        {"server update invoice_tab", 1}
    };
    const Tally expectedRequests{
        {"delete_syn.php 0", 5},
        {"delete_syn.php 2", 1},
        {"intBranx.php", 24},
        {"save_syn.php 0 0", 5},
        {"save_syn.php 0 1", 5},
        {"save_syn.php 1 0", 10},
        {"save_syn.php 1 1", 10},
        {"save_syn.php 2 0", 1},
        {"save_syn.php 2 1", 1},
        {"save_syn.php 3 0", 2},
        {"save_syn.php 3 1", 2}
    };
    EXPECT_EQ(show(writes.tally), show(expectedWrites));
    EXPECT_EQ(show(requestTally(rig)), show(expectedRequests));
}
