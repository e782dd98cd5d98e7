#include "app/autorun.h"

#include <QDir>

namespace tarvelo::app {

AutoRun::AutoRun(MessageBox messageBox, QString configHome)
    : messageBox_(std::move(messageBox)), configHome_(std::move(configHome))
{
}

QString AutoRun::configHome() const
{
    if (!configHome_.isEmpty())
        return configHome_;
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString AutoRun::entryPath(const QString& name) const
{
    return configHome() + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QString AutoRun::execArgument(const QString& path)
{
    // Quoting rule first: inside double quotes ", `, $ and \ take a backslash; a literal % is %%.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    // Then the string escapes of every value, so each backslash doubles again.
    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

QString AutoRun::desktopEntry(const QString& programPath)
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Tarvelo\nExec=") + execArgument(programPath)
           + QStringLiteral("\nTerminal=false\n");
}

void AutoRun::Show_AutoRun(const QString& name, const std::function<void(bool)>& setCheck4)
{
    Loading = true;
    const bool on = Get_AutoRun(name);
    if (setCheck4)
        setCheck4(on);
    Loading = false;
}

void AutoRun::Check4_Click(const QString& name, const QString& folder, bool ticked)
{
    if (!Loading)
        Set_AutoRun(name, folder, ticked);
}

}  // namespace tarvelo::app
