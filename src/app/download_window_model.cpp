#include "app/download_window_model.h"

#include <cmath>

namespace tarvelo::app {

qint64 roundHalfEven(double value)
{
    return qint64(std::nearbyint(value));  // the default rounding mode is to nearest, ties to even
}

DownloadWindowModel::DownloadWindowModel(std::function<void()> pump, QObject* parent)
    : QObject(parent), pump_(std::move(pump))
{
    Form2_Form_Load();
}

void DownloadWindowModel::Form2_Form_Load()
{
    label1Left_ = 0;
    label1Width_ = Width;
    label2Left_ = 0;
    emit changed();
}

void DownloadWindowModel::resetBar()
{
    label1Left_ = 0;
    label2Left_ = 0;
    emit changed();
}

void DownloadWindowModel::DownloadProgress(const QString& pct)
{
    if (pump_)
        pump_();
    // The step goes through its text form, so 69.7 twips per percent stays exactly 69.7.
    const double step = QString::number(double(label1Width_) / 100.0).toDouble();
    label1Left_ = int(roundHalfEven(pct.toDouble() * step));
    label2Left_ = label1Left_ - PercentWidth;
    label2Caption_ = pct + QStringLiteral(" %");
    emit changed();
    emit progressed(label2Caption_);
}

void DownloadWindowModel::show()
{
    if (visible_)
        return;
    visible_ = true;
    emit visibleChanged(true);
}

void DownloadWindowModel::close()
{
    if (!visible_)
        return;
    visible_ = false;
    emit visibleChanged(false);
}

}  // namespace tarvelo::app
