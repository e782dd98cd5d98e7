#include "data/activity_log.h"

#include <stdexcept>

namespace tarvelo::data {

QString leftToRight(const QString& text)
{
    return QChar(0x2066) + text + QChar(0x2069);
}

// ---------------------------------------------------------------- GridModel

GridModel::GridModel(QString name, int widthTwips, QObject* parent)
    : QAbstractTableModel(parent), name_(std::move(name)), width_(widthTwips)
{
}

void GridModel::checkCell(int r, int c) const
{
    if (r < 0 || r >= rows() || c < 0 || c >= cols_)
        throw std::out_of_range("grid " + name_.toStdString() + ": no cell " + std::to_string(r) + ","
                                + std::to_string(c));
}

void GridModel::checkCol(int c) const
{
    if (c < 0 || c >= cols_)
        throw std::out_of_range("grid " + name_.toStdString() + ": no column " + std::to_string(c));
}

void GridModel::setRightToLeft(bool on)
{
    if (rightToLeft_ == on)
        return;
    rightToLeft_ = on;
    emit rightToLeftChanged(on);
}

void GridModel::setRows(int n)
{
    if (n < 0)
        throw std::out_of_range("grid " + name_.toStdString() + ": negative row count");
    const int old = rows();
    if (n > old) {
        beginInsertRows({}, old, n - 1);
        cells_.resize(size_t(n), std::vector<Cell>(size_t(cols_)));
        endInsertRows();
    } else if (n < old) {
        beginRemoveRows({}, n, old - 1);
        cells_.resize(size_t(n));
        cells_.shrink_to_fit();
        endRemoveRows();
    }
    const int r = qBound(0, row_, qMax(0, n - 1));
    if (r != row_) {
        row_ = r;
        emit currentCellChanged(row_, col_);
    }
}

void GridModel::setCols(int n)
{
    if (n < 0)
        throw std::out_of_range("grid " + name_.toStdString() + ": negative column count");
    const int old = cols_;
    if (n > old)
        beginInsertColumns({}, old, n - 1);
    else if (n < old)
        beginRemoveColumns({}, n, old - 1);
    else
        return;
    cols_ = n;
    columns_.resize(size_t(n));
    for (auto& line : cells_)
        line.resize(size_t(n));
    if (n > old)
        endInsertColumns();
    else
        endRemoveColumns();
    const int c = qBound(0, col_, qMax(0, n - 1));
    if (c != col_) {
        col_ = c;
        emit currentCellChanged(row_, col_);
    }
}

void GridModel::setRow(int r)
{
    if (r < 0 || r >= rows())
        throw std::out_of_range("grid " + name_.toStdString() + ": no row " + std::to_string(r));
    if (r == row_)
        return;
    row_ = r;
    emit currentCellChanged(row_, col_);
}

void GridModel::setCol(int c)
{
    checkCol(c);
    if (c == col_)
        return;
    col_ = c;
    emit currentCellChanged(row_, col_);
}

QString GridModel::textMatrix(int r, int c) const
{
    checkCell(r, c);
    return cells_[size_t(r)][size_t(c)].text;
}

void GridModel::setTextMatrix(int r, int c, const QString& text)
{
    checkCell(r, c);
    cells_[size_t(r)][size_t(c)].text = text;
    const QModelIndex i = index(r, c);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void GridModel::setCellBackColor(quint32 colour)
{
    checkCell(row_, col_);
    cells_[size_t(row_)][size_t(col_)].back = colour;
    const QModelIndex i = index(row_, col_);
    emit dataChanged(i, i, {BackColorRole});
}

quint32 GridModel::backColorAt(int r, int c) const
{
    checkCell(r, c);
    return cells_[size_t(r)][size_t(c)].back;
}

int GridModel::colWidth(int c) const
{
    checkCol(c);
    return columns_[size_t(c)].width;
}

void GridModel::setColWidth(int c, int twips)
{
    checkCol(c);
    columns_[size_t(c)].width = twips;
    emit columnLayoutChanged(c);
    emit headerDataChanged(Qt::Horizontal, c, c);
}

int GridModel::colAlignment(int c) const
{
    checkCol(c);
    return columns_[size_t(c)].alignment;
}

void GridModel::setColAlignment(int c, int value)
{
    checkCol(c);
    columns_[size_t(c)].alignment = value;
    emit columnLayoutChanged(c);
    emit headerDataChanged(Qt::Horizontal, c, c);
    if (rows() > 0)
        emit dataChanged(index(0, c), index(rows() - 1, c), {Qt::TextAlignmentRole});
}

void GridModel::setVisible(bool on)
{
    if (visible_ == on)
        return;
    visible_ = on;
    emit visibleChanged(on);
}

int GridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows();
}

int GridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : cols_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows() || index.column() >= cols_)
        return {};
    const Cell& cell = cells_[size_t(index.row())][size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole:
        return cell.text;
    case BackColorRole:
        return cell.back;
    case Qt::TextAlignmentRole:
        if (columns_[size_t(index.column())].alignment == AlignLeftCenter)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= cols_)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case ColWidthRole:
        return columns_[size_t(section)].width;
    case ColAlignmentRole:
        return columns_[size_t(section)].alignment;
    default:
        return QAbstractTableModel::headerData(section, orientation, role);
    }
}

// ---------------------------------------------------------------- ActivityLogs

ActivityLogs::ActivityLogs(const RunState& run, TabIndexGetter tabIndex, Clock clock)
    : MSFG1(QStringLiteral("MSFG1"), GridWidth),
      MSFG2(QStringLiteral("MSFG2"), GridWidth),
      MSFG4(QStringLiteral("MSFG4"), GridWidth),
      run_(run),
      tabIndex_(std::move(tabIndex)),
      clock_(std::move(clock))
{
    // As the window is loaded: the message log is the one seen.
    MSFG1.setVisible(false);
    MSFG4.setVisible(false);
}

QDateTime ActivityLogs::now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTime();
}

QString ActivityLogs::timeText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void ActivityLogs::buildHeader(GridModel& grid, std::initializer_list<Caption> captions)
{
    grid.setRightToLeft(true);
    grid.setRows(1);
    grid.setCols(1);
    grid.setRow(0);
    for (const Caption& caption : captions) {
        const int c = grid.cols() - 1;
        grid.setCol(c);
        grid.setText(QString::fromUtf8(caption.text));
        grid.setColWidth(c, caption.width);
        grid.setColAlignment(c, GridModel::AlignLeftCenter);
        grid.setCols(grid.cols() + 1);
    }
    // A filler as wide as the grid and a narrow last column, so the captioned columns sit at
    // the right-hand edge.
    grid.setColWidth(grid.cols() - 1, int(double(grid.width()) + 500.0));
    grid.setCols(grid.cols() + 1);
    grid.setColWidth(grid.cols() - 1, 500);
}

void ActivityLogs::Grid_Head_Syn()
{
    buildHeader(MSFG1, {{"الحركة", 0},
                        {"النوع", 500},
                        {"السجل", 1800},
                        {"الفرع", 600},
                        {"الوقت", 2000},
                        {"جدول", 600},
                        {"الحالة", 600}});
}

void ActivityLogs::Grid_Head_Msg()
{
    buildHeader(MSFG2, {{"الرسالة", 4000}, {"الوقت", 2000}});
}

void ActivityLogs::Grid_Head_Pull()
{
    buildHeader(MSFG4, {{"م", 500}, {"موعد السحب", 2200}, {"السجلات", 0}, {"الحالة", 2000}, {"التنفيذ", 600}});
}

void ActivityLogs::show(GridModel& shown, GridModel& hidden1, GridModel& hidden2)
{
    shown.setVisible(true);
    hidden1.setVisible(false);
    hidden2.setVisible(false);
}

void ActivityLogs::Add_LogSyn(const QString& message, const QString& direction, const QString& noRec,
                              const QString& branch, const QString&, const QString&) noexcept
{
    try {
        const QString fill = QStringLiteral("--");
        const QString msg = message.isEmpty() ? fill : message;
        const QString dir = direction.isEmpty() ? fill : direction;
        const QString rec = noRec.isEmpty() ? fill : noRec;
        const QString bra = branch.isEmpty() ? run_.config.My_Branch : branch;
        const qint16 tab = tabIndex_ ? tabIndex_() : 0;

        if (MSFG1.rows() > MaxDataRows)
            MSFG1.setRows(1);
        MSFG1.setRows(MSFG1.rows() + 1);
        const int r = MSFG1.rows() - 1;
        MSFG1.setTextMatrix(r, 0, msg);
        MSFG1.setTextMatrix(r, 1, dir);
        MSFG1.setTextMatrix(r, 2, rec);
        MSFG1.setTextMatrix(r, 3, bra);
        MSFG1.setTextMatrix(r, 4, timeText(now()));
        MSFG1.setTextMatrix(r, 5, QString::number(int(tab) + 1));
        show(MSFG1, MSFG2, MSFG4);
    } catch (...) {
        // A log row is never worth stopping the caller for.
    }
}

void ActivityLogs::Add_LogMsg(const QString& message, const QString&, const QString&, const QString&,
                              const QString&, const QString&) noexcept
{
    try {
        const QString msg = message.isEmpty() ? QStringLiteral("--") : message;
        if (MSFG2.rows() > MaxDataRows)
            MSFG2.setRows(1);
        MSFG2.setRows(MSFG2.rows() + 1);
        const int r = MSFG2.rows() - 1;
        MSFG2.setTextMatrix(r, 0, msg);
        MSFG2.setTextMatrix(r, 1, timeText(now()));
        show(MSFG2, MSFG1, MSFG4);
    } catch (...) {
        // A log row is never worth stopping the caller for.
    }
}

void ActivityLogs::MSFG1_Row_Mark()
{
    const int r = MSFG1.row();
    if (r == 0)
        return;
    const int c = MSFG1.col();
    const int lastCol = qMin(6, MSFG1.cols() - 1);
    for (int i = 1; i < MSFG1.rows(); ++i) {
        for (int j = 0; j <= lastCol; ++j) {
            MSFG1.setRow(i);
            MSFG1.setCol(j);
            MSFG1.setCellBackColor(i == r ? 0xFF00 : GridModel::WindowBackground);
        }
    }
    // The clicked cell stays the current one, so the user's selection does not jump away.
    MSFG1.setRow(r);
    MSFG1.setCol(c);
}

void ActivityLogs::MSFG1_Next_Grid()
{
    show(MSFG2, MSFG1, MSFG4);
}

void ActivityLogs::MSFG2_Next_Grid()
{
    show(MSFG4, MSFG2, MSFG1);
}

void ActivityLogs::MSFG4_Next_Grid()
{
    show(MSFG1, MSFG2, MSFG4);
}

void ActivityLogs::Command10_Click()
{
    if (List4.count() > 0)
        List4.clear();
}

const GridModel* ActivityLogs::visibleGrid() const
{
    for (const GridModel* g : {&MSFG1, &MSFG2, &MSFG4})
        if (g->isVisible())
            return g;
    return nullptr;
}

}  // namespace tarvelo::data
