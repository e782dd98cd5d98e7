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

// Drives one easy handle inside `multi` to its end, pumping between polls.
CURLcode runInMulti(CURLM* multi, CURL* easy, const WaitPump& pump)
{
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    // Whatever leaves the wait (a pump that ends the program included) frees the handle.
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi, easy};
    // Short enough that a click or a signal is handled at once, long enough to cost nothing.
    constexpr int PollMs = 50;
    int running = 1;
    for (;;) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (running == 0)
            break;
        pump();
        if (curl_multi_poll(multi, nullptr, 0, PollMs, nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy)
            result = msg->data.result;
    return result;
}

}  // namespace

int performWaiting(void* easy, const WaitPump& pump)
{
    CURL* curl = static_cast<CURL*>(easy);
    if (!pump)
        return curl_easy_perform(curl);
    globalInit();
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_FAILED_INIT;
    struct Cleanup {
        CURLM* multi;
        ~Cleanup() { curl_multi_cleanup(multi); }
    } cleanup{multi};
    return runInMulti(multi, curl, pump);
}

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
    // The multi handle keeps the connection cache between requests.
    multi_ = curl_multi_init();
}

HttpClient::~HttpClient()
{
    if (curl_)
        curl_easy_cleanup(static_cast<CURL*>(curl_));
    if (multi_)
        curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

HttpReply HttpClient::getText(const QString& url)
{
    HttpReply reply = get(url, {}, TextReplyLimit);
    if (reply.ok && !reply.success()) {
        reply.ok = false;
        reply.error = QStringLiteral("HTTP status %1").arg(reply.status);
        reply.body.clear();
    }
    if (onReply)
        onReply(url, reply);
    return reply;
}

HttpReply HttpClient::get(const QString& url, const HttpHeaders& extraHeaders, qint64 maxBody)
{
    HttpReply reply;
    CURL* curl = static_cast<CURL*>(curl_);
    if (!curl || !multi_) {
        reply.error = QStringLiteral("the HTTP library could not be started");
        return reply;
    }
    if (busy_) {
        reply.error = QStringLiteral("another request of this client is waiting");
        return reply;
    }
    busy_ = true;
    struct Leave {
        bool& busy;
        ~Leave() { busy = false; }
    } leave{busy_};
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

    // The header list and the error buffer live on this frame: let go of them however the wait ends.
    struct Release {
        CURL* curl;
        curl_slist* headers;
        ~Release()
        {
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
            curl_slist_free_all(headers);
        }
    } release{curl, headerList};
    const CURLcode rc = pump_ ? runInMulti(static_cast<CURLM*>(multi_), curl, pump_) : curl_easy_perform(curl);

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
