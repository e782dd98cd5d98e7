#pragma once
#include "app/download_window_model.h"
#include "app/fonts.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

namespace tarvelo::app {

// Form2: draws the download model, the bar sliding right over the white window and the
// percentage at its edge. Shown and hidden by the model.
class DownloadWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int TwipsPerPixel = 15;

    explicit DownloadWindow(DownloadWindowModel& model, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;  // the bar
    QLabel* Label2 = nullptr;  // the percentage

private:
    void render();

    DownloadWindowModel& model_;
};

// A widget's font as a FontTarget, for the main window's check boxes and captions.
class WidgetFontTarget : public FontTarget {
public:
    explicit WidgetFontTarget(QWidget* widget) : widget_(widget) {}
    QFont font() const override { return widget_ ? widget_->font() : QFont(); }
    void setFont(const QFont& font) override
    {
        if (widget_)
            widget_->setFont(font);
    }

private:
    QPointer<QWidget> widget_;
};

}  // namespace tarvelo::app
