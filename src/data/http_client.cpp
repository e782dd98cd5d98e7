#include "data/http_client.h"

#include <curl/curl.h>

#include <mutex>

namespace tarvelo::data {

namespace {

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct BodySink {
    HttpReply* reply;
    qint64 limit;  // 0: no bound
    bool overLimit = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (sink->limit > 0 && sink->reply->body.size() + qint64(n) > sink->limit) {
        // Any count other than n makes libcurl abort the transfer.
        sink->overLimit = true;
        return 0;
    }
    sink->reply->body.append(data, qsizetype(n));
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* reply = static_cast<HttpReply*>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new status line: an interim answer (100 Continue) or a redirect came before.
        reply->headers.clear();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        reply->headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return size * count;
}

}  // namespace

QByteArray HttpReply::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpClient::HttpClient(std::chrono::milliseconds timeout) : timeout_(timeout)
{
    globalInit();
    curl_ = curl_easy_init();
}

HttpClient::~HttpClient()
{
    if (curl_)
        curl_easy_cleanup(static_cast<CURL*>(curl_));
}

HttpReply HttpClient::get(const QString& url, const HttpHeaders& extraHeaders, qint64 maxBody)
{
    HttpReply reply;
    CURL* curl = static_cast<CURL*>(curl_);
    if (!curl) {
        reply.error = QStringLiteral("the HTTP library could not be started");
        return reply;
    }
    // Reset keeps the connection cache, so a kept-alive connection is reused.
    curl_easy_reset(curl);

    const QByteArray urlBytes = url.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* headerList = nullptr;
    for (const auto& [name, value] : extraHeaders)
        headerList = curl_slist_append(headerList, (name + ": " + value).constData());

    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeout_.count()));
    // Loopback never goes through a proxy that the environment may name.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    BodySink sink{&reply, maxBody};
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    if (headerList)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);

    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(headerList);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);

    if (rc != CURLE_OK) {
        reply.ok = false;
        reply.body.clear();
        reply.error = sink.overLimit
                          ? QStringLiteral("the answer is longer than %1 bytes").arg(maxBody)
                          : QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
        return reply;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.status = status;
    reply.ok = status != 0;
    if (!reply.ok)
        reply.error = QStringLiteral("no HTTP answer");
    return reply;
}

QString percentEncode(QStringView value)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = value.toUtf8();
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')
                                || b == '-' || b == '.' || b == '_' || b == '~';
        if (unreserved) {
            out += QChar(b);
        } else {
            out += u'%';
            out += QChar(hex[b >> 4]);
            out += QChar(hex[b & 0xF]);
        }
    }
    return out;
}

}  // namespace tarvelo::data
