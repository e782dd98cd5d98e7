#pragma once
#include <QObject>
#include <QString>

#include <functional>

namespace tarvelo::app {

// The download window Form2 as the rest of the program sees it: a bar (Label1) that slides to
// the right as the download goes on and the percentage text (Label2) that travels with its edge.
// Positions and sizes are in twips; the window only renders them.
class DownloadWindowModel : public QObject {
    Q_OBJECT
public:
    static constexpr int Width = 6970;
    static constexpr int Height = 2170;
    static constexpr quint32 BackColor = 0xFFFFFF;
    static constexpr int PercentWidth = 900;  // Label2: wide enough for "100 %"

    // `pump` lets window events run; the progress calls it first, as every step of the download does.
    explicit DownloadWindowModel(std::function<void()> pump = {}, QObject* parent = nullptr);

    // The window's load: the bar covers the whole width, both labels at the left edge.
    void Form2_Form_Load();

    // pct: a whole percentage as text ("50"); moves the bar and the text and shows "50 %".
    void DownloadProgress(const QString& pct);

    void show();
    void close();
    bool isVisible() const { return visible_; }

    int label1Left() const { return label1Left_; }
    int label1Width() const { return label1Width_; }
    int label2Left() const { return label2Left_; }
    int label2Width() const { return PercentWidth; }
    const QString& label2Caption() const { return label2Caption_; }

    // Called by the download before it starts.
    void resetBar();

signals:
    void changed();
    void visibleChanged(bool visible);
    void progressed(const QString& caption);

private:
    std::function<void()> pump_;
    bool visible_ = false;
    int label1Left_ = 0;
    int label1Width_ = Width;
    int label2Left_ = 0;
    QString label2Caption_;
};

// Rounds to the nearest whole number, halves to the even neighbour, as the percentage and the
// bar position always have.
qint64 roundHalfEven(double value);

}  // namespace tarvelo::app
