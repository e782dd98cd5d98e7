#pragma once
#include <QObject>
#include <QStringList>
#include <array>

namespace tarvelo::data {

// The database status lamps of the main window (LabD 0 to 4). Colours are in the
// blue-green-red order the branch staff know from the original window.
class LampsModel : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 Green = 0xFF00;
    static constexpr quint32 DarkRed = 0x80;
    static constexpr quint32 Orange = 0x80FF;
    static constexpr quint32 Unpainted = 0xFFFFFFFF;
    static constexpr int Count = 5;

    quint32 colour(int lamp) const { return lamps_.at(size_t(lamp)); }
    void paint(int lamp, quint32 colour)
    {
        lamps_.at(size_t(lamp)) = colour;
        emit painted(lamp, colour);
    }

signals:
    void painted(int lamp, quint32 colour);

private:
    std::array<quint32, Count> lamps_{Unpainted, Unpainted, Unpainted, Unpainted, Unpainted};
};

// A plain list of texts shown in a list control (the table pick list, the trace list).
class TextListModel : public QObject {
    Q_OBJECT
public:
    const QStringList& items() const { return items_; }
    int count() const { return int(items_.size()); }
    int currentIndex() const { return current_; }
    void setCurrentIndex(int i)
    {
        current_ = i;
        emit changed();
    }
    void append(const QString& text)
    {
        items_.append(text);
        emit changed();
    }
    void clear()
    {
        items_.clear();
        current_ = -1;
        emit changed();
    }

signals:
    void changed();

private:
    QStringList items_;
    int current_ = -1;
};

}  // namespace tarvelo::data
