#include "data/web_service.h"

#include <QUrl>

#include <array>
#include <limits>

namespace tarvelo::data {

namespace {

// The clock's answer fails apart from its request: a reply that arrives but says no time.
const QString kClockAnswer = QStringLiteral("web service getnow.php answer");

QString replyText(const HttpReply& reply)
{
    return QString::fromUtf8(reply.body);
}

// The leading whole number of a text, as a 16-bit value; 0 when there is none or it does not fit.
qint16 leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t[end] == u'-' || t[end] == u'+'))
        ++end;
    while (end < t.size() && t[end].isDigit() && t[end].unicode() < 128)
        ++end;
    bool ok = false;
    const int value = t.left(end).toInt(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        return 0;
    return qint16(value);
}

}  // namespace

QString webRequestUrl(const QString& base, const QString& script, const QueryItems& query)
{
    QString url = base + script;
    bool first = true;
    for (const auto& [key, value] : query) {
        url += first ? u'?' : u'&';
        url += key + u'=' + percentEncode(value);
        first = false;
    }
    return url;
}

std::optional<QDateTime> parseServerTime(const QString& reply)
{
    // Scripts often end their output with a line break; the words themselves are never padded.
    const QString text = reply.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    static const std::array<QString, 5> formats = {
        QStringLiteral("yyyy-MM-dd hh:mm:ss"), QStringLiteral("yyyy-MM-dd h:mm:ss"),
        QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"), QStringLiteral("yyyy/MM/dd hh:mm:ss"),
        QStringLiteral("yyyy/MM/dd h:mm:ss"),
    };
    for (const QString& format : formats) {
        const QDateTime dt = QDateTime::fromString(text, format);
        if (dt.isValid())
            return dt;
    }
    // ISO 8601 with "T", possibly with fractions and a zone.
    const QDateTime iso = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (iso.isValid() && text.contains(u'T'))
        return iso.timeSpec() == Qt::LocalTime ? iso : iso.toLocalTime();
    return std::nullopt;
}

void noteWebReply(ErrorLog& log, const QString& url, const HttpReply& reply, const QString& configFile)
{
    // Without the query: it carries credentials, and a repeated failure must read the same each time.
    const QUrl address(url);
    const QString script = address.fileName();
    const QString step = "web service " + (script.isEmpty() ? QStringLiteral("request") : script);
    if (reply.ok) {
        log.works(step);
        return;
    }
    log.reason(step,
               (reply.error.isEmpty() ? QStringLiteral("no answer") : reply.error) + " — "
                   + address.toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment),
               "Url_Web in " + configFile + ", and that the web service runs");
}

qint64 clockOffsetSeconds(const QDateTime& local, const QDateTime& server)
{
    auto wholeSeconds = [](const QDateTime& dt) {
        const qint64 ms = dt.toMSecsSinceEpoch();
        return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    };
    return wholeSeconds(server) - wholeSeconds(local);
}

WebService::WebService(RunState& run, ErrorLog& log, EventPump pump, std::chrono::milliseconds timeout)
    : Inet1(timeout), Inet3(timeout), Inet8(timeout), run_(run), log_(log), pump_(std::move(pump))
{
    for (HttpClient* client : {&Inet1, &Inet3, &Inet8})
        client->onReply = [this](const QString& url, const HttpReply& reply) {
            noteWebReply(log_, url, reply, run_.config.file);
        };
}

void WebService::setTimeout(std::chrono::milliseconds timeout)
{
    Inet1.setTimeout(timeout);
    Inet3.setTimeout(timeout);
    Inet8.setTimeout(timeout);
}

QString WebService::requestUrl(const QString& script, const QueryItems& query) const
{
    return webRequestUrl(run_.config.Url_Web, script, query);
}

QueryItems WebService::serverCredentials() const
{
    const StartupConfig& c = run_.config;
    return {{QStringLiteral("host"), c.DB_Server_Ser},
            {QStringLiteral("user"), c.DB_User_Ser},
            {QStringLiteral("pasw"), c.DB_Pas_Ser},
            {QStringLiteral("datb"), c.DB_Name_Ser}};
}

QString WebService::Web_Save_Syn(const QString& treco, const QString& SynLast, const QString& norec, qint16 kin1,
                                 qint16 kin2, const QString& mainbranch)
{
    // Rows the server never keeps are taken as accepted on the spot.
    if (run_.Syn_First == 1)
        return QStringLiteral("OK");
    if (isDetailTable && isDetailTable(treco))
        return QStringLiteral("OK");
    if (treco == u"branchsyn_tab" && kin1 != 0)
        return QStringLiteral("OK");
    if (treco == u"notic_tab" && kin1 != 0)
        return QStringLiteral("OK");

    ++run_.Rec_Pass;
    ++run_.Snd_Pass;
    if (pump_)
        pump_();

    QueryItems query = serverCredentials();
    query.insert(query.end(), {{QStringLiteral("treco"), treco},
                               {QStringLiteral("SynLast"), SynLast},
                               {QStringLiteral("norec"), norec},
                               {QStringLiteral("branch"), run_.config.My_Branch},
                               {QStringLiteral("kin1"), QString::number(kin1)},
                               {QStringLiteral("kin2"), QString::number(kin2)},
                               {QStringLiteral("mainbranch"), mainbranch}});
    if (mayWrite && !mayWrite())
        return QString();
    const HttpReply reply = Inet8.getText(requestUrl(QStringLiteral("save_syn.php"), query));
    if (!reply.ok)
        return QString();
    // Any answer goes back as it came: only "OK" is taken as stored.
    return replyText(reply);
}

QString WebService::Web_Delete_Syn(const QString& treco, const QString& SynLast, const QString& norec, qint16 kin1)
{
    QueryItems query = serverCredentials();
    query.insert(query.end(), {{QStringLiteral("treco"), treco},
                               {QStringLiteral("SynLast"), SynLast},
                               {QStringLiteral("norec"), norec},
                               {QStringLiteral("kin1"), QString::number(kin1)}});
    if (mayWrite && !mayWrite())
        return QStringLiteral("NotOk");
    const HttpReply reply = Inet8.getText(requestUrl(QStringLiteral("delete_syn.php"), query));
    if (!reply.ok)
        return QStringLiteral("NotOk");
    return replyText(reply);
}

bool WebService::Get_TimeDiff()
{
    const HttpReply reply = Inet3.getText(requestUrl(QStringLiteral("getnow.php")));
    if (!reply.ok) {
        log_.failure(QStringLiteral("SYN016"));
        return false;
    }
    const QString text = replyText(reply);
    run_.Err_Fields[12] = text;
    if (text.isEmpty()) {
        log_.reason(kClockAnswer, QStringLiteral("the answer is empty"),
                    "Url_Web in " + run_.config.file);
        return false;
    }
    const std::optional<QDateTime> server = parseServerTime(text);
    if (server)
        log_.works(kClockAnswer);
    if (!server) {
        log_.reason(kClockAnswer, "the answer is not a date and time: " + text.left(80),
                    "Url_Web in " + run_.config.file);
        log_.failure(QStringLiteral("SYN016"));
        return false;
    }
    const QDateTime local = QDateTime::currentDateTime();
    run_.Time_Diff = QString::number(clockOffsetSeconds(local, *server));
    return true;
}

qint16 WebService::Int_Branx()
{
    const HttpReply reply = Inet1.getText(requestUrl(QStringLiteral("intBranx.php"), serverCredentials()));
    if (!reply.ok) {
        log_.failure(QStringLiteral("SYN027"));
        return 0;
    }
    const QString text = replyText(reply);
    run_.Err_Fields[6] = text;
    return leadingNumber(text);
}

}  // namespace tarvelo::data
