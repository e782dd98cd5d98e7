#pragma once
#include "app/fonts.h"
#include "data/activity_log.h"
#include "data/indicators.h"
#include "sync/sync_state.h"

#include <QObject>
#include <QString>
#include <array>

namespace tarvelo::app {

// A yes/no state the window shows: a control's visibility, a timer's switch.
class SwitchModel : public QObject {
    Q_OBJECT
public:
    explicit SwitchModel(bool on = false) : on_(on) {}
    bool isOn() const { return on_; }
    void set(bool on)
    {
        if (on_ == on)
            return;
        on_ = on;
        emit changed(on);
    }
signals:
    void changed(bool on);

private:
    bool on_;
};

// A check box: value 0 or 1. The program runs the box's click behaviour itself; the window only
// reports the user's clicks.
class CheckBoxModel : public QObject {
    Q_OBJECT
public:
    explicit CheckBoxModel(QString caption) : caption_(std::move(caption)) {}
    const QString& caption() const { return caption_; }
    int value() const { return value_; }
    CaptionModel font;  // the typeface of its caption
    void setValue(int v)
    {
        if (value_ == v)
            return;
        value_ = v;
        emit changed(v);
    }
signals:
    void changed(int value);

private:
    QString caption_;
    int value_ = 0;
};

// The notification-area icon: whether it exists, its picture (0 idle, 1 working, 2 stopped) and tip.
class TrayModel : public QObject {
    Q_OBJECT
public:
    static constexpr int TipLength = 63;

    bool present() const { return present_; }
    int picture() const { return picture_; }
    const QString& tooltip() const { return tooltip_; }
    // Replaces the icon: the platform's icon is removed and added again on every change.
    void replace(int picture, const QString& tip)
    {
        present_ = true;
        picture_ = picture;
        tooltip_ = tip.left(TipLength);
        emit changed();
    }
    void remove()
    {
        present_ = false;
        emit changed();
    }
signals:
    void changed();

private:
    bool present_ = false;
    int picture_ = 2;
    QString tooltip_;
};

// Everything the main window shows that the engine does not own.
struct MainWindowModel {
    sync::TextModel caption;
    sync::LabelArrayModel Label3{10};  // 6: status line, 9: version, the rest fixed captions
    std::array<CaptionModel, 10> Label3Font;  // the typeface of each Label3
    sync::LabelArrayModel Label8{2};   // 1: the Command44(1) flag
    SwitchModel visible;               // the window is shown (hidden: to the tray, or minimised)
    SwitchModel restoreRequested;      // pulses when the window is to come back to normal state
    SwitchModel Frame4{true};          // the stopped panel
    std::array<SwitchModel, 4> Bott1;  // 0 start, 1 stop, 2 hide, 3 exit: visible
    CheckBoxModel Check1{QStringLiteral("اظهار اخر سجل ")};
    CheckBoxModel Check3{QStringLiteral("تفعيل المزامنة مع تشغيل البرنامج ")};
    CheckBoxModel Check4{QStringLiteral("تشغيل البرنامج مع اقلاع النظام ")};
    CheckBoxModel Check5{QStringLiteral("اخفاء البرنامج مع التشغيل")};
    TrayModel tray;
    data::TextListModel Combo1;
    data::TextListModel Combo3;
    SwitchModel Timer1;  // cycle timer, 1000 ms
    SwitchModel Timer4;  // retry timer, 1000 ms

    MainWindowModel()
    {
        Bott1[0].set(true);
        Bott1[3].set(true);
    }

    // The controls the font setting reaches, by name and index.
    FontTarget* fontTarget(const QString& name, int index)
    {
        if (name == u"Label3")
            return index >= 0 && index < int(Label3Font.size()) ? &Label3Font[size_t(index)] : nullptr;
        const std::pair<const char16_t*, CheckBoxModel*> boxes[] = {
            {u"Check1", &Check1}, {u"Check3", &Check3}, {u"Check4", &Check4}, {u"Check5", &Check5}};
        for (const auto& [boxName, box] : boxes)
            if (name == boxName)
                return &box->font;
        return nullptr;
    }
};

}  // namespace tarvelo::app
