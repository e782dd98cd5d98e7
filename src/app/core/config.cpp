#include "app/core/config.h"

#include "data/activity_log.h"
#include "data/database.h"
#include "data/reachability.h"
#include "data/settings_store.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <array>

namespace tarvelo::app {

QString defaultConfigPath()
{
    return data::IniSettingsStore::defaultBaseDir() + "/Tarvelo/config.ini";
}

namespace {

bool matches(const QString& text, QStringView pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern.toString())).match(text).hasMatch();
}

bool plainText(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar ch) { return ch.category() == QChar::Other_Control; });
}

bool databaseName(const QString& text)
{
    return plainText(text) && text.size() <= 64 && !text.endsWith(u' ') && !text.contains(u'/')
           && !text.contains(u'\\') && !text.contains(u'.');
}

bool isWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty()
           && url.path().endsWith(u'/') && url.query().isEmpty() && url.fragment().isEmpty();
}

}  // namespace

std::optional<ProgramConfig> loadConfig(const QString& path, QString& error, QStringList* warnings, QString* arabic)
{
    QStringList problems, arabicProblems;
    const auto refuse = [&] {
        error = problems.size() == 1 ? path + ": " + problems.first()
                                     : path + ": " + QString::number(problems.size()) + " problems:\n  " + problems.join("\n  ");
        if (arabic)
            *arabic = QStringLiteral("لا يعمل البرنامج بسبب ملف الاعدادات:\n") + data::leftToRight(path) + "\n\n" + arabicProblems.join(u'\n')
                      + QStringLiteral("\n\nصحح الملف ثم شغل البرنامج مرة اخرى.");
        return std::nullopt;
    };
    QFile file(path);
    if (!file.exists()) {
        problems << QStringLiteral("configuration file not found (give one with --config FILE)");
        arabicProblems << QStringLiteral("الملف غير موجود");
        return refuse();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problems << "cannot read the configuration file: " + file.errorString();
        arabicProblems << QStringLiteral("لا يمكن قراءة الملف");
        return refuse();
    }
    namespace k = config_keys;
    ProgramConfig c;
    data::StartupConfig& s = c.startup;
    s.file = path;
    struct Key {
        const char* name;
        QString* value;
        enum { Value, MayBeEmpty, Optional } need;
        bool (*wellFormed)(const QString&);
        const char* expected;
    };
    const std::array<Key, 11> keys = {{
        {k::Server, &s.DB_Server_Ser, Key::Value, [](const QString& v) { return data::isHostOrAddress(v); },
         "a host name or an IP address"},
        {k::User, &s.DB_User_Ser, Key::Value, plainText, "a user name without control characters"},
        {k::Password, &s.DB_Pas_Ser, Key::MayBeEmpty, plainText, "a password without control characters"},
        {k::Database, &s.DB_Name_Ser, Key::Value, databaseName,
         "a database name of at most 64 characters without \"/\", \"\\\" or \".\""},
        {k::Branch, &s.My_Branch, Key::Value, [](const QString& v) { return matches(v, u"^[0-9]{2}$"); },
         "the branch number as branch_tab holds it: two digits, for example 01"},
        {k::Revision, &s.Riv_Server, Key::Value, [](const QString& v) { return matches(v, u"^[0-9]{6}$"); },
         "a revision is six digits, for example 010218"},
        {k::PingAddress, &s.Ip_Ser, Key::Value, [](const QString& v) { quint32 a = 0; return data::usableAddress(v, a); },
         "an IPv4 address is expected, for example 192.0.2.10"},
        {k::Device, &s.No_Dev, Key::Value, plainText, "a device number without control characters"},
        {k::WebService, &s.Url_Web, Key::Value, isWebAddress, "an http:// or https:// address ending in \"/\" is expected"},
        {k::Downloads, &s.Url_Downloads, Key::Value, isWebAddress,
         "an http:// or https:// address ending in \"/\" is expected"},
        {k::DatabaseNumber, &c.No_Dat, Key::Optional, [](const QString& v) { return v.isEmpty() || matches(v, u"^[0-9]+$"); },
         "a whole number is expected"},
    }};

    QSet<QString> given;
    int lineNo = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++lineNo;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';') || line.startsWith(u'['))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            problems << QStringLiteral("line %1 is not a \"key = value\" line").arg(lineNo);
            arabicProblems << QStringLiteral("السطر %1 ليس على شكل: المفتاح = القيمة").arg(lineNo);
            continue;
        }
        const QString name = line.left(eq).trimmed();
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return name == QLatin1String(k.name); });
        if (key == keys.end()) {
            if (warnings)
                *warnings << QStringLiteral("%1:%2: unknown key %3 is ignored").arg(path).arg(lineNo).arg(name);
            continue;
        }
        given.insert(name);
        *key->value = line.mid(eq + 1).trimmed();
    }
    for (const Key& key : keys) {
        const QString name = QString::fromLatin1(key.name);
        if (key.need != Key::Optional && !given.contains(name)) {
            problems << "key " + name + " is missing";
            arabicProblems << QStringLiteral("المفتاح %1 غير موجود").arg(name);
        } else if (key.need == Key::Value && key.value->isEmpty()) {
            problems << "key " + name + " is empty";
            arabicProblems << QStringLiteral("المفتاح %1 فارغ").arg(name);
        } else if (given.contains(name) && !key.wellFormed(*key.value)) {
            problems << "key " + name + " is malformed: " + QString::fromUtf8(key.expected);
            arabicProblems << QStringLiteral("قيمة المفتاح %1 غير صحيحة").arg(name);
        }
    }
    if (problems.isEmpty())
        return c;
    return refuse();
}

}  // namespace tarvelo::app
