#pragma once
#include <QString>

namespace tarvelo::data {

// The per-user settings store: a value by application name, section and key. A missing value
// reads as empty text.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString& application, const QString& section, const QString& key) const = 0;
    virtual void write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
};

// One INI file per application: <base>/<application>/settings.ini, one group per section.
// The calling application and scripts write the same files.
class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(QString baseDir = defaultBaseDir());
    static QString defaultBaseDir();  // ${XDG_CONFIG_HOME:-$HOME/.config}
    QString filePath(const QString& application) const;

    QString read(const QString& application, const QString& section, const QString& key) const override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

private:
    QString base_;
};

}  // namespace tarvelo::data
