#include "data/error_log.h"

#include <QFile>
#include <QLocale>

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
    QFile f(path());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray bytes = line.toLocal8Bit();
    bytes += "\r\n";
    f.write(bytes);
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
