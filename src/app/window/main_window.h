#pragma once
#include "app/core/program.h"

#include <QIcon>
#include <QWidget>
#include <array>

class QLabel;
class QLayout;
class QSystemTrayIcon;
class QTableView;

namespace tarvelo::app {

// The main window: draws the program's models, right to left, and forwards clicks. It holds no
// state of its own beyond what drawing needs.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Program& program, bool trayAvailable);
    ~MainWindow() override;

    // The whole window as an image, shown or not.
    bool saveScreenshot(const QString& path);
    // The tray picture for a state: 0 idle, 1 working, 2 stopped.
    static QIcon trayPicture(int picture);
    bool hasTrayIcon() const { return tray_ != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The window's parts, top to bottom.
    QLayout* createTitleBar();
    QLayout* createValues();
    QLayout* createLampsAndBars();
    QWidget* createStoppedPanel();
    QLayout* createGrids();
    QLayout* createCheckBoxes();
    QWidget* createStatusLine();
    void createTrayIcon();

    QLabel* label(sync::LabelArrayModel& model, int index);
    QLabel* label(sync::TextModel& model);
    QTableView* grid(data::GridModel& model);
    void applyVisibility(bool shown);
    void syncTray();

    Program& p_;
    bool trayAvailable_;
    QSystemTrayIcon* tray_ = nullptr;
    std::array<QLabel*, data::LampsModel::Count> lamps_{};
    QPoint dragFrom_;
    bool dragging_ = false;
};

}  // namespace tarvelo::app
