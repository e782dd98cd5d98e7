#include "app/download_window.h"

namespace tarvelo::app {

namespace {

int pixels(int twips)
{
    return twips / DownloadWindow::TwipsPerPixel;
}

}  // namespace

DownloadWindow::DownloadWindow(DownloadWindowModel& model, QWidget* parent)
    : QWidget(parent, Qt::Dialog), model_(model)
{
    setFixedSize(pixels(DownloadWindowModel::Width), pixels(DownloadWindowModel::Height));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, QColor(QRgb(0xFFFFFF)));
    setPalette(white);

    Label1 = new QLabel(this);
    Label1->setAutoFillBackground(true);
    QPalette bar = Label1->palette();
    bar.setColor(QPalette::Window, QColor(0xD8, 0xD8, 0xD8));
    Label1->setPalette(bar);
    Label2 = new QLabel(this);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    connect(&model_, &DownloadWindowModel::changed, this, &DownloadWindow::render);
    connect(&model_, &DownloadWindowModel::visibleChanged, this, [this](bool on) { setVisible(on); });
    render();
    setVisible(model_.isVisible());
}

void DownloadWindow::render()
{
    const int barTop = pixels(DownloadWindowModel::Height) / 2 - 12;
    Label1->setGeometry(pixels(model_.label1Left()), barTop, pixels(model_.label1Width()), 24);
    Label2->setGeometry(pixels(model_.label2Left()), barTop, pixels(model_.label2Width()), 24);
    Label2->setText(model_.label2Caption());
}

}  // namespace tarvelo::app
