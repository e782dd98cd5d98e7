#pragma once
#include "data/settings_store.h"

#include <QFont>
#include <QObject>
#include <QString>
#include <functional>

namespace tarvelo::app {

// A control whose typeface the font setting changes.
class FontTarget {
public:
    virtual ~FontTarget() = default;
    virtual QFont font() const = 0;
    virtual void setFont(const QFont& font) = 0;
};

// A caption or check box as a model: its text and font; the window renders both.
class CaptionModel : public QObject, public FontTarget {
    Q_OBJECT
public:
    explicit CaptionModel(QString text = {}, QObject* parent = nullptr) : QObject(parent), text_(std::move(text)) {}
    const QString& text() const { return text_; }
    QFont font() const override { return font_; }
    void setFont(const QFont& font) override
    {
        font_ = font;
        emit fontChanged(font_);
    }

signals:
    void fontChanged(const QFont& font);

private:
    QString text_;
    QFont font_;
};

// Finds a control of the window by its name and index (-1 for a control that is not in an
// array); nullptr when the window has none of that name.
using FontTargets = std::function<FontTarget*(const QString& name, int index)>;

struct FontControl {
    const char* name;
    int index;
};

// The controls that take the typeface, in the order they take it.
inline constexpr FontControl kFontControls[] = {
    {"Check1", -1}, {"Check4", -1}, {"Check3", -1}, {"Check5", -1}, {"Label3", 4},
    {"Label3", 3},  {"Label3", 2},  {"Label3", 5},  {"Label3", 8},
};

// Gives every listed control the typeface; size and style stay. A family the system lacks is
// kept as asked and drawn with the closest one fontconfig finds.
void Set_Fonts(const FontTargets& window, const QString& fontName);

// Applies "SaveInFont1" of Veld when it is set.
void Read_Fonts(const FontTargets& window, const data::SettingsStore& settings);

}  // namespace tarvelo::app
