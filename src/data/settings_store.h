#pragma once
#include <QString>

namespace tarvelo::data {

// The per-user settings store: a value by application name, section and key. A missing value
// reads as empty text.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString& application, const QString& section, const QString& key) const = 0;
    // False when the value was not stored: a name or value that cannot be held on one line, or a
    // file that cannot be written.
    virtual bool write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
};

// One INI file per application: <base>/<application>/settings.ini, one [section] per section, one
// key=value line per key. The calling application, install scripts and the user edit the same files
// by hand or with other tools, so a value is read and written literally: everything after the
// first '=' up to the line end, no quoting, escapes or lists. Keys and sections are
// case-sensitive. A write replaces the file atomically and leaves every other line as it was;
// a new file is readable by its owner only (it holds database passwords).
class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(QString baseDir = defaultBaseDir());
    static QString defaultBaseDir();  // ${XDG_CONFIG_HOME:-$HOME/.config}
    QString filePath(const QString& application) const;

    QString read(const QString& application, const QString& section, const QString& key) const override;
    bool write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

private:
    QString base_;
};

}  // namespace tarvelo::data
