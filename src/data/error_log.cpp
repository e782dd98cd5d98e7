#include "data/error_log.h"

#include <QDir>
#include <QLocale>

#include <limits>

namespace tarvelo::data {

QString ErrorLog::path() const
{
    QString p = folder_;
    if (!p.endsWith(u'/') && !p.endsWith(u'\\'))
        p += u'/';
    return p + "Save_Code.txt";
}

void ErrorLog::Save_Code(const QString& line) const
{
    // Opened and closed for every line, so each line is on disk when the call returns.
    appendBounded(path(), line.toLocal8Bit() + "\r\n", maxBytes_);
}

QString ErrorLog::refusedPunchesPath() const
{
    return folder_ + "/refused_punches.txt";
}

void ErrorLog::keepRefusedPunch(const QDateTime& when, const QString& deviceRow, const QString& address,
                                const QString& enroll, const QString& punchTime, const QString& reason) const
{
    // Tabs and line breaks inside a value would split the line; nothing else is changed.
    const auto field = [](QString v) { return v.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' '); };
    const QString line = QStringList{when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), field(deviceRow),
                                     field(address), field(enroll), field(punchTime), field(reason)}
                             .join(u'\t');
    QDir().mkpath(folder_);
    appendBounded(refusedPunchesPath(), line.toUtf8() + '\n', std::numeric_limits<qint64>::max());
}

void ErrorLog::failure(const QString& code)
{
    Save_Code(errorLine(code, Err_Step));
    Err_Step = 0;
}

QString errorLine(const QString& code, qint16 step)
{
    return "Error " + code + u'(' + QString::number(step) + u')';
}

QString startLine(const QDateTime& now)
{
    const QLocale locale = QLocale::system();
    return "Start " + locale.toString(now.date(), QLocale::ShortFormat) + u' '
           + locale.toString(now.time(), QLocale::LongFormat);
}

QString kinProLine(int kind)
{
    return "KinPro " + QString::number(kind);
}

}  // namespace tarvelo::data
