#include "app/core/config.h"

#include "data/reachability.h"
#include "data/settings_store.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

namespace tarvelo::app {

QString defaultConfigPath()
{
    return data::IniSettingsStore::defaultBaseDir() + "/Tarvelo/config.ini";
}

namespace {

bool isWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty()
           && url.path().endsWith(u'/') && url.query().isEmpty() && url.fragment().isEmpty();
}

}  // namespace

std::optional<ProgramConfig> loadConfig(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.exists()) {
        error = path + ": configuration file not found (give one with --config FILE)";
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": cannot read the configuration file: " + file.errorString();
        return std::nullopt;
    }
    QHash<QString, QString> values;
    int lineNo = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++lineNo;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';') || line.startsWith(u'['))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            error = QStringLiteral("%1:%2: not a \"key = value\" line").arg(path).arg(lineNo);
            return std::nullopt;
        }
        values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }

    auto take = [&](const char* key, bool mayBeEmpty, QString& out) {
        const auto it = values.constFind(QString::fromLatin1(key));
        if (it == values.constEnd()) {
            error = path + ": key " + key + " is missing";
            return false;
        }
        if (it->isEmpty() && !mayBeEmpty) {
            error = path + ": key " + key + " is empty";
            return false;
        }
        out = *it;
        return true;
    };
    auto malformed = [&](const char* key, const QString& what) {
        error = path + ": key " + key + " is malformed: " + what;
        return std::nullopt;
    };

    namespace k = config_keys;
    ProgramConfig c;
    data::StartupConfig& s = c.startup;
    if (!take(k::Server, false, s.DB_Server_Ser) || !take(k::User, false, s.DB_User_Ser)
        || !take(k::Password, true, s.DB_Pas_Ser) || !take(k::Database, false, s.DB_Name_Ser)
        || !take(k::Branch, false, s.My_Branch) || !take(k::Revision, false, s.Riv_Server)
        || !take(k::PingAddress, false, s.Ip_Ser) || !take(k::Device, false, s.No_Dev)
        || !take(k::WebService, false, s.Url_Web) || !take(k::Downloads, false, s.Url_Downloads))
        return std::nullopt;

    static const QRegularExpression sixDigits(QStringLiteral("^[0-9]{6}$"));
    static const QRegularExpression wholeNumber(QStringLiteral("^[0-9]+$"));
    if (!sixDigits.match(s.Riv_Server).hasMatch())
        return malformed(k::Revision, "a revision is six digits, for example 010218");
    quint32 address = 0;
    if (!data::usableAddress(s.Ip_Ser, address))
        return malformed(k::PingAddress, "an IPv4 address is expected, for example 192.0.2.10");
    if (!isWebAddress(s.Url_Web))
        return malformed(k::WebService, "an http:// or https:// address ending in \"/\" is expected");
    if (!isWebAddress(s.Url_Downloads))
        return malformed(k::Downloads, "an http:// or https:// address ending in \"/\" is expected");
    const auto noDat = values.constFind(QString::fromLatin1(k::DatabaseNumber));
    if (noDat != values.constEnd() && !noDat->isEmpty()) {
        if (!wholeNumber.match(*noDat).hasMatch())
            return malformed(k::DatabaseNumber, "a whole number is expected");
        c.No_Dat = *noDat;
    }
    return c;
}

}  // namespace tarvelo::app
