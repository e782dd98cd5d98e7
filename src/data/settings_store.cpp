#include "data/settings_store.h"

#include <QDir>
#include <QSettings>

namespace tarvelo::data {

IniSettingsStore::IniSettingsStore(QString baseDir) : base_(std::move(baseDir)) {}

QString IniSettingsStore::defaultBaseDir()
{
    QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + "/.config";
}

QString IniSettingsStore::filePath(const QString& application) const
{
    return base_ + u'/' + application + "/settings.ini";
}

QString IniSettingsStore::read(const QString& application, const QString& section, const QString& key) const
{
    QSettings s(filePath(application), QSettings::IniFormat);
    return s.value(section + u'/' + key).toString();
}

void IniSettingsStore::write(const QString& application, const QString& section, const QString& key,
                             const QString& value)
{
    QDir().mkpath(base_ + u'/' + application);
    QSettings s(filePath(application), QSettings::IniFormat);
    s.setValue(section + u'/' + key, value);
    s.sync();
}

}  // namespace tarvelo::data
