#include "data/activity_log.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

using namespace tarvelo;
using data::ActivityLogs;
using data::GridModel;

namespace {

constexpr quint32 Green = 65280;

struct Logs {
    data::RunState run;
    qint16 tabIndex = 0;
    QDateTime clock{QDate(2024, 3, 5), QTime(15, 4, 9)};
    ActivityLogs logs{run, [this] { return tabIndex; }, [this] { return clock; }};

    Logs()
    {
        run.config.My_Branch = "3";
        logs.Grid_Head_Syn();
        logs.Grid_Head_Msg();
        logs.Grid_Head_Pull();
    }
};

std::vector<QString> rowTexts(const GridModel& g, int r)
{
    std::vector<QString> out;
    for (int c = 0; c < g.cols(); ++c)
        out.push_back(g.textMatrix(r, c));
    return out;
}

std::vector<QString> headerTexts(const GridModel& g)
{
    return rowTexts(g, 0);
}

std::vector<int> widths(const GridModel& g)
{
    std::vector<int> out;
    for (int c = 0; c < g.cols(); ++c)
        out.push_back(g.colWidth(c));
    return out;
}

std::vector<int> alignments(const GridModel& g)
{
    std::vector<int> out;
    for (int c = 0; c < g.cols(); ++c)
        out.push_back(g.colAlignment(c));
    return out;
}

std::vector<bool> visibility(const ActivityLogs& l)
{
    return {l.MSFG1.isVisible(), l.MSFG2.isVisible(), l.MSFG4.isVisible()};
}

TEST(ActivityLogHeaders, CaptionsWidthsAlignmentAndDirection)
{
    Logs t;
    const auto& l = t.logs;
    const int G = ActivityLogs::GridWidth + 500;
    const int L = GridModel::AlignLeftCenter;
    const int D = GridModel::AlignGeneral;

    EXPECT_EQ(l.MSFG1.rows(), 1);
    EXPECT_EQ(headerTexts(l.MSFG1), (std::vector<QString>{"الحركة", "النوع", "السجل", "الفرع", "الوقت", "جدول",
                                                          "الحالة", "", ""}));
    EXPECT_EQ(widths(l.MSFG1), (std::vector<int>{0, 500, 1800, 600, 2000, 600, 600, G, 500}));
    EXPECT_EQ(alignments(l.MSFG1), (std::vector<int>{L, L, L, L, L, L, L, D, D}));

    EXPECT_EQ(l.MSFG2.rows(), 1);
    EXPECT_EQ(headerTexts(l.MSFG2), (std::vector<QString>{"الرسالة", "الوقت", "", ""}));
    EXPECT_EQ(widths(l.MSFG2), (std::vector<int>{4000, 2000, G, 500}));
    EXPECT_EQ(alignments(l.MSFG2), (std::vector<int>{L, L, D, D}));

    EXPECT_EQ(l.MSFG4.rows(), 1);
    EXPECT_EQ(headerTexts(l.MSFG4),
              (std::vector<QString>{"م", "موعد السحب", "السجلات", "الحالة", "التنفيذ", "", ""}));
    EXPECT_EQ(widths(l.MSFG4), (std::vector<int>{500, 2200, 0, 2000, 600, G, 500}));

    for (const GridModel* g : {&l.MSFG1, &l.MSFG2, &l.MSFG4}) {
        EXPECT_TRUE(g->rightToLeft()) << g->name().toStdString();
        EXPECT_EQ(g->headerData(1, Qt::Horizontal, GridModel::ColWidthRole).toInt(), g->colWidth(1));
    }
    // As loaded, the message log is the grid seen.
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, true, false}));
}

TEST(ActivityLogRows, TransferRowContentsFillsAndTablePosition)
{
    Logs t;
    auto& l = t.logs;
    l.Add_LogSyn("sent", "1", "R-17", "", "", "");  // a send row shows this branch
    t.tabIndex = 4;
    t.clock = QDateTime(QDate(2024, 12, 31), QTime(7, 8, 9));
    l.Add_LogSyn("received", "2", "R-18", "7", "", "");
    l.Add_LogSyn("", "", "", "", "x", "y");

    ASSERT_EQ(l.MSFG1.rows(), 4);
    EXPECT_EQ(rowTexts(l.MSFG1, 1),
              (std::vector<QString>{"sent", "1", "R-17", "3", "2024-03-05 15:04:09", "1", "", "", ""}));
    EXPECT_EQ(rowTexts(l.MSFG1, 2),
              (std::vector<QString>{"received", "2", "R-18", "7", "2024-12-31 07:08:09", "5", "", "", ""}));
    EXPECT_EQ(rowTexts(l.MSFG1, 3),
              (std::vector<QString>{"--", "--", "--", "3", "2024-12-31 07:08:09", "5", "", "", ""}));
    EXPECT_EQ(l.MSFG2.rows(), 1);  // the message log is untouched

    l.Add_LogMsg("started", "", "", "", "", "");
    l.Add_LogMsg("");
    ASSERT_EQ(l.MSFG2.rows(), 3);
    EXPECT_EQ(rowTexts(l.MSFG2, 1), (std::vector<QString>{"started", "2024-12-31 07:08:09", "", ""}));
    EXPECT_EQ(rowTexts(l.MSFG2, 2), (std::vector<QString>{"--", "2024-12-31 07:08:09", "", ""}));
}

TEST(ActivityLogRows, BranchDefaultFollowsTheConfiguredBranch)
{
    data::RunState run;
    run.config.My_Branch = "12";
    ActivityLogs l(run, [] { return qint16(0); });
    l.Grid_Head_Syn();
    l.Add_LogSyn("m", "1", "r", "");
    EXPECT_EQ(l.MSFG1.textMatrix(1, 3), "12");
    // The real clock gives a time text of the fixed shape.
    EXPECT_TRUE(QDateTime::fromString(l.MSFG1.textMatrix(1, 4), "yyyy-MM-dd HH:mm:ss").isValid())
        << l.MSFG1.textMatrix(1, 4).toStdString();
}

TEST(ActivityLogRows, EachLogIsCutBackOnItsOwn)
{
    Logs t;
    auto& l = t.logs;
    for (int i = 1; i <= 999; ++i) {
        l.Add_LogSyn("s" + QString::number(i), "1", "r", "");
        l.Add_LogMsg("m" + QString::number(i));
    }
    ASSERT_EQ(l.MSFG1.rows(), 1000);
    ASSERT_EQ(l.MSFG2.rows(), 1000);

    // 999 data rows: the append simply adds the 1000th.
    l.Add_LogSyn("s1000", "1", "r", "");
    EXPECT_EQ(l.MSFG1.rows(), 1001);
    EXPECT_EQ(l.MSFG1.textMatrix(1, 0), "s1");
    EXPECT_EQ(l.MSFG1.textMatrix(1000, 0), "s1000");
    EXPECT_EQ(l.MSFG2.rows(), 1000);

    // 1000 data rows: emptied to the header, then the new row. The message log keeps its rows.
    l.Add_LogSyn("s1001", "2", "r", "9");
    ASSERT_EQ(l.MSFG1.rows(), 2);
    EXPECT_EQ(l.MSFG1.textMatrix(0, 0), "الحركة");
    EXPECT_EQ(l.MSFG1.textMatrix(1, 0), "s1001");
    EXPECT_EQ(l.MSFG1.textMatrix(1, 3), "9");
    EXPECT_EQ(l.MSFG2.rows(), 1000);

    l.Add_LogMsg("m1000");
    EXPECT_EQ(l.MSFG2.rows(), 1001);
    EXPECT_EQ(l.MSFG2.textMatrix(1, 0), "m1");
    l.Add_LogMsg("m1001");
    ASSERT_EQ(l.MSFG2.rows(), 2);
    EXPECT_EQ(l.MSFG2.textMatrix(0, 0), "الرسالة");
    EXPECT_EQ(l.MSFG2.textMatrix(1, 0), "m1001");
    EXPECT_EQ(l.MSFG1.rows(), 2);
}

TEST(ActivityLogRows, AppendersNeverStopTheCaller)
{
    data::RunState run;
    ActivityLogs l(run, []() -> qint16 { throw std::runtime_error("no table list"); });
    l.Grid_Head_Syn();
    l.Grid_Head_Msg();
    EXPECT_NO_THROW(l.Add_LogSyn("m", "1", "r", ""));
    EXPECT_EQ(l.MSFG1.rows(), 1);

    // Before any header exists a message row has no columns to go into.
    ActivityLogs bare(run, {});
    EXPECT_NO_THROW(bare.Add_LogMsg("early"));
    EXPECT_NO_THROW(bare.Add_LogSyn("early", "1", "r", ""));
}

TEST(ActivityLogView, AppendsSwitchTheVisibleGrid)
{
    Logs t;
    auto& l = t.logs;
    l.Add_LogSyn("s", "1", "r", "");
    EXPECT_EQ(visibility(l), (std::vector<bool>{true, false, false}));
    l.Add_LogMsg("m");
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, true, false}));
    l.MSFG2_Next_Grid();  // the user looks at the pull schedule
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, false, true}));
    l.Add_LogSyn("s", "1", "r", "");
    EXPECT_EQ(visibility(l), (std::vector<bool>{true, false, false}));
    l.MSFG1_Next_Grid();
    l.MSFG2_Next_Grid();
    l.Add_LogMsg("m");
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(l.visibleGrid(), &l.MSFG2);
}

TEST(ActivityLogView, DoubleClicksStepRoundTheThreeGrids)
{
    Logs t;
    auto& l = t.logs;
    std::vector<QString> events;
    for (GridModel* g : {&l.MSFG1, &l.MSFG2, &l.MSFG4})
        QObject::connect(g, &GridModel::visibleChanged,
                         [&events, g](bool on) { events.push_back(g->name() + (on ? "+" : "-")); });

    l.MSFG2_Next_Grid();
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, false, true}));
    l.MSFG4_Next_Grid();
    EXPECT_EQ(visibility(l), (std::vector<bool>{true, false, false}));
    l.MSFG1_Next_Grid();
    EXPECT_EQ(visibility(l), (std::vector<bool>{false, true, false}));
    // The grid shown comes up before the others go, so the spot is never empty.
    EXPECT_EQ(events, (std::vector<QString>{"MSFG4+", "MSFG2-", "MSFG1+", "MSFG4-", "MSFG2+", "MSFG1-"}));
}

TEST(ActivityLogHighlight, ClickedRowGreenOthersWindowColour)
{
    Logs t;
    auto& l = t.logs;
    for (int i = 0; i < 3; ++i)
        l.Add_LogSyn("s", "1", "r", "");
    auto colourOf = [&](int r, int c) { return l.MSFG1.backColorAt(r, c); };

    // Right after load the current row is the header: nothing is coloured.
    l.MSFG1_Row_Mark();
    for (int r = 0; r < l.MSFG1.rows(); ++r)
        for (int c = 0; c < l.MSFG1.cols(); ++c)
            EXPECT_EQ(colourOf(r, c), GridModel::DefaultBackColor) << r << "," << c;

    l.MSFG1.setRow(2);
    l.MSFG1.setCol(3);
    l.MSFG1_Row_Mark();
    for (int c = 0; c <= 6; ++c) {
        EXPECT_EQ(colourOf(0, c), GridModel::DefaultBackColor);
        EXPECT_EQ(colourOf(1, c), GridModel::WindowBackground);
        EXPECT_EQ(colourOf(2, c), Green);
        EXPECT_EQ(colourOf(3, c), GridModel::WindowBackground);
    }
    for (int r = 1; r <= 3; ++r)
        for (int c : {7, 8})
            EXPECT_EQ(colourOf(r, c), GridModel::DefaultBackColor);
    EXPECT_EQ(l.MSFG1.row(), 2);
    EXPECT_EQ(l.MSFG1.data(l.MSFG1.index(2, 0), GridModel::BackColorRole).toUInt(), Green);

    // A row added later keeps the default until the next click.
    l.Add_LogSyn("s", "1", "r", "");
    EXPECT_EQ(colourOf(4, 0), GridModel::DefaultBackColor);
    l.MSFG1.setRow(4);
    l.MSFG1_Row_Mark();
    EXPECT_EQ(colourOf(4, 6), Green);
    EXPECT_EQ(colourOf(2, 0), GridModel::WindowBackground);
}

TEST(ActivityLogHighlight, CutBackDropsColouredRows)
{
    Logs t;
    auto& l = t.logs;
    for (int i = 0; i < 1000; ++i)
        l.Add_LogSyn("s", "1", "r", "");
    l.MSFG1.setRow(1000);
    l.MSFG1_Row_Mark();
    ASSERT_EQ(l.MSFG1.backColorAt(1000, 0), Green);

    l.Add_LogSyn("new", "1", "r", "");
    ASSERT_EQ(l.MSFG1.rows(), 2);
    EXPECT_EQ(l.MSFG1.backColorAt(1, 0), GridModel::DefaultBackColor);
    // The current row went with the rows removed; a click now finds the header.
    EXPECT_EQ(l.MSFG1.row(), 0);
    l.MSFG1_Row_Mark();
    EXPECT_EQ(l.MSFG1.backColorAt(1, 0), GridModel::DefaultBackColor);
}

TEST(ActivityLogModel, SignalsTellAWindowWhatChanged)
{
    Logs t;
    auto& l = t.logs;
    int inserted = 0, removed = 0, changed = 0;
    QObject::connect(&l.MSFG2, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    QObject::connect(&l.MSFG2, &QAbstractItemModel::rowsRemoved, [&] { ++removed; });
    QObject::connect(&l.MSFG2, &QAbstractItemModel::dataChanged, [&] { ++changed; });
    l.Add_LogMsg("one");
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(changed, 2);  // message and time
    EXPECT_EQ(l.MSFG2.rowCount(), 2);
    EXPECT_EQ(l.MSFG2.columnCount(), 4);
    EXPECT_EQ(l.MSFG2.data(l.MSFG2.index(1, 0)).toString(), "one");
    EXPECT_EQ(l.MSFG2.data(l.MSFG2.index(1, 0), Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
    for (int i = 0; i < 1000; ++i)
        l.Add_LogMsg("more");
    EXPECT_EQ(removed, 1);
}

TEST(TraceList, ClearEmptiesAndIsQuietWhenEmpty)
{
    Logs t;
    auto& l = t.logs;
    int changes = 0;
    QObject::connect(&l.List4, &data::TextListModel::changed, [&] { ++changes; });
    l.Command10_Click();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(l.List4.count(), 0);

    l.List4.append("a");
    l.List4.append("b");
    changes = 0;
    l.Command10_Click();
    EXPECT_EQ(l.List4.count(), 0);
    EXPECT_EQ(changes, 1);
}

}  // namespace
