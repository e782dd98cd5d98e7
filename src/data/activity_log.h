#pragma once
#include "data/indicators.h"
#include "data/run_state.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

namespace tarvelo::data {

// A left-to-right text (a path, an address, an English reason) isolated inside a right-to-left
// line, so that a leading "/" and the words' order stay as written.
QString leftToRight(const QString& text);

// A grid of texts as the window shows it: row 0 is the header row, columns read right to left
// when asked, and the grid keeps a current cell that the click handlers read and move.
// Widths are in twips; colours in the blue-green-red form of the original window.
// Cell addresses outside the grid throw std::out_of_range.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr quint32 DefaultBackColor = 0xFFFFFFFF;  // never painted: the grid's own colour
    static constexpr quint32 WindowBackground = 0x80000005;  // the system colour of window backgrounds
    static constexpr int AlignLeftCenter = 1;
    static constexpr int AlignGeneral = 9;  // the grid's default alignment
    static constexpr int DefaultColWidth = -1;

    enum Role { BackColorRole = Qt::UserRole + 1, ColWidthRole, ColAlignmentRole };

    GridModel(QString name, int widthTwips, QObject* parent = nullptr);

    const QString& name() const { return name_; }
    int width() const { return width_; }

    bool rightToLeft() const { return rightToLeft_; }
    void setRightToLeft(bool on);

    int rows() const { return int(cells_.size()); }
    void setRows(int n);
    int cols() const { return cols_; }
    void setCols(int n);

    int row() const { return row_; }
    void setRow(int r);
    int col() const { return col_; }
    void setCol(int c);

    QString text() const { return textMatrix(row_, col_); }
    void setText(const QString& text) { setTextMatrix(row_, col_, text); }
    QString textMatrix(int r, int c) const;
    void setTextMatrix(int r, int c, const QString& text);

    quint32 cellBackColor() const { return backColorAt(row_, col_); }
    void setCellBackColor(quint32 colour);
    quint32 backColorAt(int r, int c) const;

    int colWidth(int c) const;
    void setColWidth(int c, int twips);
    int colAlignment(int c) const;
    void setColAlignment(int c, int value);

    bool isVisible() const { return visible_; }
    void setVisible(bool on);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void visibleChanged(bool visible);
    void currentCellChanged(int row, int col);
    void columnLayoutChanged(int col);
    void rightToLeftChanged(bool on);

private:
    struct Cell {
        QString text;
        quint32 back = DefaultBackColor;
    };
    struct Column {
        int width = DefaultColWidth;
        int alignment = AlignGeneral;
    };
    void checkCell(int r, int c) const;
    void checkCol(int c) const;

    QString name_;
    int width_;
    bool rightToLeft_ = false;
    bool visible_ = true;
    int cols_ = 0;
    int row_ = 0;
    int col_ = 0;
    std::vector<std::vector<Cell>> cells_;
    std::vector<Column> columns_;
};

// The transfer log MSFG1, the message log MSFG2, the device pull schedule MSFG4 (whose rows the
// attendance devices write) and the trace list List4 with its Clear button.
class ActivityLogs {
public:
    using TabIndexGetter = std::function<qint16()>;  // the cycle's current table slot
    using Clock = std::function<QDateTime()>;

    static constexpr int GridWidth = 6375;
    static constexpr int GridHeight = 3855;
    static constexpr int MaxDataRows = 1000;

    // `clock` defaults to the machine's local clock.
    ActivityLogs(const RunState& run, TabIndexGetter tabIndex, Clock clock = {});
    ActivityLogs(const ActivityLogs&) = delete;
    ActivityLogs& operator=(const ActivityLogs&) = delete;

    GridModel MSFG1;
    GridModel MSFG2;
    GridModel MSFG4;
    TextListModel List4;

    void Grid_Head_Syn();
    void Grid_Head_Msg();
    void Grid_Head_Pull();

    // The last texts are taken and ignored, as every caller passes them empty.
    void Add_LogSyn(const QString& message, const QString& direction, const QString& noRec, const QString& branch,
                    const QString& unused1 = {}, const QString& unused2 = {}) noexcept;
    void Add_LogMsg(const QString& message, const QString& unused1 = {}, const QString& unused2 = {},
                    const QString& unused3 = {}, const QString& unused4 = {}, const QString& unused5 = {}) noexcept;

    void MSFG1_Row_Mark();
    void MSFG1_Next_Grid();
    void MSFG2_Next_Grid();
    void MSFG4_Next_Grid();
    void Command10_Click();

    // The grid now shown; nullptr when none is.
    const GridModel* visibleGrid() const;

    static QString timeText(const QDateTime& t);

private:
    struct Caption {
        const char* text;
        int width;
    };
    static void buildHeader(GridModel& grid, std::initializer_list<Caption> captions);
    static void show(GridModel& shown, GridModel& hidden1, GridModel& hidden2);
    QDateTime now() const;

    const RunState& run_;
    TabIndexGetter tabIndex_;
    Clock clock_;
};

}  // namespace tarvelo::data
