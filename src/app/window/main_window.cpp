#include "app/window/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QVBoxLayout>

namespace tarvelo::app {

namespace {

// Colours of the models are blue-green-red.
QColor fromBgr(quint32 c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// Fifteen twips make a pixel; the widths were chosen for a smaller font than this window uses.
constexpr int TwipsPerPixel = 12;

void bindCombo(QComboBox* box, data::TextListModel& model)
{
    auto refill = [box, &model] {
        const QSignalBlocker block(box);
        box->clear();
        box->addItems(model.items());
        box->setCurrentIndex(model.currentIndex());
    };
    refill();
    QObject::connect(&model, &data::TextListModel::changed, box, refill);
    QObject::connect(box, &QComboBox::currentIndexChanged, &model, [&model](int i) {
        if (i != model.currentIndex())
            model.setCurrentIndex(i);
    });
}

// The typeface the font setting gives a control; its size and weight stay the widget's own.
void bindFont(QWidget* widget, CaptionModel& model)
{
    QObject::connect(&model, &CaptionModel::fontChanged, widget, [widget](const QFont& font) {
        QFont f = widget->font();
        f.setFamilies(font.families());
        widget->setFont(f);
    });
}

// A grid as the view shows it: the model's row 0 is the header, which stays at the top however the
// rows scroll; the model keeps it as a row because the log writers and the click handlers count it.
class HeaderRowGrid : public QSortFilterProxyModel {
public:
    explicit HeaderRowGrid(data::GridModel& grid, QObject* parent) : QSortFilterProxyModel(parent)
    {
        setSourceModel(&grid);
        connect(&grid, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
            if (from.row() == 0)
                emit headerDataChanged(Qt::Horizontal, from.column(), to.column());
        });
        // Row 0 arrives with the first Grid_Head call, after the view has asked for the header.
        connect(&grid, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first) {
            if (first == 0 && columnCount() > 0)
                emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
        });
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::TextAlignmentRole)
            && sourceModel()->rowCount() > 0 && section >= 0 && section < sourceModel()->columnCount())
            return sourceModel()->index(0, section).data(role);
        return QSortFilterProxyModel::headerData(section, orientation, role);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override { return row != 0; }
};

}  // namespace

QIcon MainWindow::trayPicture(int picture)
{
    static const QColor colours[] = {QColor(0x2e, 0x7d, 0x32), QColor(0x15, 0x65, 0xc0), QColor(0xc6, 0x28, 0x28)};
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colours[qBound(0, picture, 2)]);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawEllipse(2, 2, 28, 28);
    painter.setPen(QPen(Qt::white, 3));
    if (picture == 1) {
        painter.drawArc(9, 9, 14, 14, 30 * 16, 300 * 16);  // turning arrows
    } else if (picture == 2) {
        painter.drawLine(11, 11, 21, 21);
        painter.drawLine(21, 11, 11, 21);
    } else {
        painter.drawLine(10, 16, 22, 16);
    }
    return QIcon(pm);
}

QLabel* MainWindow::label(sync::LabelArrayModel& model, int index)
{
    auto* l = new QLabel(model.text(index));
    connect(&model, &sync::LabelArrayModel::changed, l, [l, index](int i, const QString& text) {
        if (i == index)
            l->setText(text);
    });
    return l;
}

QLabel* MainWindow::label(sync::TextModel& model)
{
    auto* l = new QLabel(model.text());
    connect(&model, &sync::TextModel::changed, l, &QLabel::setText);
    return l;
}

QTableView* MainWindow::grid(data::GridModel& model)
{
    auto* view = new QTableView;
    view->setObjectName(model.name());
    auto* shown = new HeaderRowGrid(model, view);
    view->setModel(shown);
    view->horizontalHeader()->setSectionsClickable(false);
    view->horizontalHeader()->setHighlightSections(false);
    view->verticalHeader()->hide();
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setLayoutDirection(model.rightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    auto widths = [view, &model] {
        for (int c = 0; c < model.cols(); ++c) {
            const int w = model.colWidth(c);
            if (w == 0)
                view->hideColumn(c);
            else {
                view->showColumn(c);
                if (w > 0)
                    view->setColumnWidth(c, w / TwipsPerPixel);
            }
        }
    };
    widths();
    connect(&model, &data::GridModel::columnLayoutChanged, view, widths);
    connect(&model, &QAbstractItemModel::modelReset, view, widths);
    connect(&model, &data::GridModel::rightToLeftChanged, view,
            [view](bool on) { view->setLayoutDirection(on ? Qt::RightToLeft : Qt::LeftToRight); });
    connect(shown, &QAbstractItemModel::rowsInserted, view, [view] { view->scrollToBottom(); });
    view->setVisible(model.isVisible());
    connect(&model, &data::GridModel::visibleChanged, view, &QWidget::setVisible);
    return view;
}

MainWindow::MainWindow(Program& program, bool trayAvailable) : p_(program), trayAvailable_(trayAvailable)
{
    setLayoutDirection(Qt::RightToLeft);
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowTitle(p_.ui.caption.text());
    connect(&p_.ui.caption, &sync::TextModel::changed, this, &QWidget::setWindowTitle);
    resize(980, 680);

    auto* root = new QVBoxLayout(this);
    root->addLayout(createTitleBar());
    root->addLayout(createValues());
    root->addLayout(createLampsAndBars());
    root->addWidget(createStoppedPanel());
    root->addLayout(createGrids(), 1);
    root->addLayout(createCheckBoxes());
    root->addWidget(createStatusLine());
    createTrayIcon();
}

// Caption, version and the four image buttons; dragging the bar moves the window.
QLayout* MainWindow::createTitleBar()
{
    MainWindowModel& ui = p_.ui;
    auto* top = new QHBoxLayout;
    auto* caption = label(ui.caption);
    caption->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 14pt"));
    top->addWidget(caption);
    top->addStretch();
    top->addWidget(label(ui.Label3, 9));
    const char* buttonTexts[] = {"تشغيل", "ايقاف", "اخفاء", "خروج"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QPushButton(QString::fromUtf8(buttonTexts[i]));
        b->setObjectName(QStringLiteral("Bott1_%1").arg(i));
        b->setVisible(ui.Bott1[size_t(i)].isOn());
        connect(&ui.Bott1[size_t(i)], &SwitchModel::changed, b, &QWidget::setVisible);
        connect(b, &QPushButton::clicked, this, [this, i] { p_.Bott1_Click(i); });
        top->addWidget(b);
    }
    return top;
}

// Branch, databases, times and, beside them, the synchronisation state and the pass texts.
QLayout* MainWindow::createValues()
{
    MainWindowModel& ui = p_.ui;
    sync::SyncWindow& w = p_.window;
    auto* info = new QGridLayout;
    const std::pair<int, int> rows[] = {{2, 0}, {3, 1}, {4, 2}, {8, 4}, {5, 5}};
    int r = 0;
    for (const auto& [captionIndex, valueIndex] : rows) {
        QLabel* captionLabel = label(ui.Label3, captionIndex);
        bindFont(captionLabel, ui.Label3Font[size_t(captionIndex)]);
        info->addWidget(captionLabel, r, 0);
        info->addWidget(label(w.Label2, valueIndex), r, 1);
        ++r;
    }
    info->addWidget(label(ui.Label3, 0), r, 0);
    auto* combo1 = new QComboBox;
    bindCombo(combo1, ui.Combo1);
    info->addWidget(combo1, r, 1);
    auto* state = label(w.Label2, 7);
    state->setStyleSheet(QStringLiteral("font-weight: bold"));
    info->addWidget(state, 0, 2);
    info->addWidget(label(w.Label2, 3), 1, 2);
    info->addWidget(label(w.Label7), 2, 2);
    info->addWidget(label(w.Text4567), 3, 2);
    auto* xxxk = new QLabel(w.XXXK.caption());
    connect(&w.XXXK, &sync::StatusLabelModel::changed, xxxk, [xxxk, &w] {
        xxxk->setText(w.XXXK.caption());
        if (w.XXXK.foreColor() != sync::StatusLabelModel::Unpainted)
            xxxk->setStyleSheet("color: " + fromBgr(w.XXXK.foreColor()).name());
    });
    info->addWidget(xxxk, 4, 2);
    auto* busy = new QHBoxLayout;
    // Marks DejaVu Sans, Serif and Mono all draw (the fonts the program requires): a row read, a row saved.
    const std::pair<sync::ImageModel*, const char*> marks[] = {{&w.ImgLoa, "ImgLoa"}, {&w.ImgSav, "ImgSav"}};
    for (const auto& [img, name] : marks) {
        auto* l = new QLabel(img == &w.ImgLoa ? QStringLiteral("↻") : QStringLiteral("⇅"));
        l->setObjectName(QString::fromLatin1(name));
        l->setVisible(img->isVisible());
        connect(img, &sync::ImageModel::visibleChanged, l, &QWidget::setVisible);
        busy->addWidget(l);
    }
    busy->addWidget(label(ui.Label8, 1));
    busy->addStretch();
    info->addLayout(busy, 5, 2);
    return info;
}

// The five database lamps and the five progress bars.
QLayout* MainWindow::createLampsAndBars()
{
    sync::SyncWindow& w = p_.window;
    auto* lampsRow = new QHBoxLayout;
    for (int k = 0; k < data::LampsModel::Count; ++k) {
        auto* lamp = new QLabel;
        lamp->setFixedSize(14, 14);
        lamp->setFrameShape(QFrame::Box);
        lamps_[size_t(k)] = lamp;
        lampsRow->addWidget(lamp);
    }
    auto paintLamp = [this](int k, quint32 c) {
        lamps_[size_t(k)]->setStyleSheet(c == data::LampsModel::Unpainted
                                             ? QString()
                                             : "background: " + fromBgr(c).name());
    };
    for (int k = 0; k < data::LampsModel::Count; ++k)
        paintLamp(k, p_.lamps.colour(k));
    connect(&p_.lamps, &data::LampsModel::painted, this, paintLamp);
    std::array<QProgressBar*, sync::ProgressModel::Bars> bars{};
    for (auto& bar : bars) {
        bar = new QProgressBar;
        bar->setTextVisible(false);
        bar->setMaximumHeight(10);
        bar->setRange(0, 1000);
        lampsRow->addWidget(bar, 1);
    }
    auto moveBars = [bars, &w] {
        const int full = qMax(1, w.LabD.windowWidth());
        for (int k = 0; k < sync::ProgressModel::Bars; ++k)
            bars[size_t(k)]->setValue(qBound(0, w.LabD.barWidth(k) * 1000 / full, 1000));
    };
    moveBars();
    connect(&w.LabD, &sync::ProgressModel::changed, this, moveBars);
    return lampsRow;
}

// The panel shown while synchronisation is stopped.
QWidget* MainWindow::createStoppedPanel()
{
    auto* frame4 = new QFrame;
    frame4->setFrameShape(QFrame::StyledPanel);
    auto* f4 = new QHBoxLayout(frame4);
    auto* start = new QPushButton(QStringLiteral("تشغيل المزامنة"));
    auto* readAll = new QPushButton(QStringLiteral("قراءة جميع السجلات"));
    connect(start, &QPushButton::clicked, this, [this] { p_.Command44_Click(0); });
    connect(readAll, &QPushButton::clicked, this, [this] { p_.Command44_Click(1); });
    f4->addWidget(start);
    f4->addWidget(readAll);
    f4->addStretch();
    frame4->setVisible(p_.ui.Frame4.isOn());
    connect(&p_.ui.Frame4, &SwitchModel::changed, frame4, &QWidget::setVisible);
    return frame4;
}

// The log grids: transfer, message and schedule share one place; the punch grid beside them.
QLayout* MainWindow::createGrids()
{
    auto* grids = new QHBoxLayout;
    auto* logs = new QVBoxLayout;
    logs->addWidget(grid(p_.logs.MSFG1));
    logs->addWidget(grid(p_.logs.MSFG2));
    logs->addWidget(grid(p_.logs.MSFG4));
    grids->addLayout(logs, 3);
    auto* side = new QVBoxLayout;
    auto* combo3 = new QComboBox;
    bindCombo(combo3, p_.ui.Combo3);
    side->addWidget(combo3);
    side->addWidget(grid(p_.devices->MSFG3));
    grids->addLayout(side, 2);
    return grids;
}

QLayout* MainWindow::createCheckBoxes()
{
    MainWindowModel& ui = p_.ui;
    auto* checks = new QHBoxLayout;
    for (CheckBoxModel* m : {&ui.Check1, &ui.Check3, &ui.Check4, &ui.Check5}) {
        auto* box = new QCheckBox(m->caption());
        box->setChecked(m->value() == 1);
        connect(m, &CheckBoxModel::changed, box, [box](int v) {
            const QSignalBlocker block(box);
            box->setChecked(v == 1);
        });
        connect(box, &QCheckBox::toggled, this, [this, m](bool on) { p_.Check_Click(*m, on ? 1 : 0); });
        checks->addWidget(box);
        bindFont(box, m->font);
    }
    checks->addStretch();
    return checks;
}

// The status line, at the bottom as a status bar.
QWidget* MainWindow::createStatusLine()
{
    auto* status = label(p_.ui.Label3, 6);
    status->setFrameShape(QFrame::Panel);
    status->setFrameShadow(QFrame::Sunken);
    return status;
}

// The tray icon where the desktop has a notification area; the window's own icon otherwise.
void MainWindow::createTrayIcon()
{
    MainWindowModel& ui = p_.ui;
    if (trayAvailable_) {
        tray_ = new QSystemTrayIcon(this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::Trigger)
                p_.trayActivated();
        });
    }
    connect(&ui.tray, &TrayModel::changed, this, &MainWindow::syncTray);
    syncTray();
    connect(&ui.visible, &SwitchModel::changed, this, &MainWindow::applyVisibility);
    connect(&ui.restoreRequested, &SwitchModel::changed, this, [this](bool on) {
        if (on) {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            showNormal();
            raise();
        }
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::syncTray()
{
    const TrayModel& model = p_.ui.tray;
    // The window's own icon carries the state too, for desktops without a notification area.
    setWindowIcon(trayPicture(model.picture()));
    if (!tray_)
        return;
    if (!model.present()) {
        tray_->hide();
        return;
    }
    tray_->setIcon(trayPicture(model.picture()));
    tray_->setToolTip(model.tooltip());
    tray_->show();
}

void MainWindow::applyVisibility(bool shown)
{
    if (shown) {
        showNormal();
        return;
    }
    // Without a notification area nothing could bring a hidden window back: minimise instead.
    // A hand-over run stays hidden: its calling application owns the screen.
    if (trayAvailable_ || !p_.sync.Name_Tab.isEmpty())
        hide();
    else
        showMinimized();
}

bool MainWindow::saveScreenshot(const QString& path)
{
    if (!isVisible()) {
        ensurePolished();
        if (layout())
            layout()->activate();
    }
    const QPixmap image = grab();
    return !image.isNull() && image.save(path);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    p_.Form_Unload();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    dragFrom_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    dragging_ = true;
    setCursor(Qt::SizeAllCursor);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_)
        move(event->globalPosition().toPoint() - dragFrom_);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*)
{
    dragging_ = false;
    unsetCursor();
}

}  // namespace tarvelo::app
