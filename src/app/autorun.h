#pragma once
#include <QString>
#include <functional>

namespace tarvelo::app {

// Run at logon: the check box Check4 shows whether the current user's autostart list holds the
// program's entry, and clicking it writes or removes that entry. On Linux the entry is the XDG
// autostart file <config home>/autostart/<name>.desktop.
class AutoRun {
public:
    using MessageBox = std::function<void(const QString& text)>;

    // configHome: empty means ${XDG_CONFIG_HOME:-$HOME/.config}, looked up at each call.
    // messageBox shows a failure with an OK button.
    explicit AutoRun(MessageBox messageBox = {}, QString configHome = {});

    QString configHome() const;
    QString entryPath(const QString& name) const;

    // True when the entry exists and is not hidden.
    bool Get_AutoRun(const QString& name) const;
    // Writes the entry starting folder/name, or removes it; a failure shows its message box with
    // the system's error number and text.
    void Set_AutoRun(const QString& name, const QString& folder, bool enable);

    // Sets the box from the entry without rewriting it.
    void Show_AutoRun(const QString& name, const std::function<void(bool ticked)>& setCheck4);
    // The box's click: writes what the box now shows, unless the program itself set it.
    void Check4_Click(const QString& name, const QString& folder, bool ticked);

    bool Loading = false;

    // The entry's text for a program at an absolute path.
    static QString desktopEntry(const QString& programPath);
    // One Exec argument quoted as the Desktop Entry rules require, string escapes included.
    static QString execArgument(const QString& path);

private:
    MessageBox messageBox_;
    QString configHome_;
};

}  // namespace tarvelo::app
