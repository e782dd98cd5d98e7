#include "app/fonts.h"

namespace tarvelo::app {

void Set_Fonts(const FontTargets& window, const QString& fontName)
{
    if (!window)
        return;
    for (const FontControl& control : kFontControls) {
        FontTarget* target = window(QString::fromLatin1(control.name), control.index);
        if (!target)
            continue;
        QFont font = target->font();
        font.setFamily(fontName);
        target->setFont(font);
    }
}

void Read_Fonts(const FontTargets& window, const data::SettingsStore& settings)
{
    const QString name = settings.read(QStringLiteral("Veld"), QStringLiteral("Settings"), QStringLiteral("SaveInFont1"));
    if (!name.isEmpty())
        Set_Fonts(window, name);
}

}  // namespace tarvelo::app
