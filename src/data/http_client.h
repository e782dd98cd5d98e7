#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>
#include <chrono>
#include <functional>

namespace tarvelo::data {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// What one GET brought back.
struct HttpReply {
    bool ok = false;       // a whole HTTP answer arrived after redirects, whatever its status code
    long status = 0;       // the final answer's status code; 0 when none arrived
    QByteArray body;       // exactly as received; empty when ok is false
    HttpHeaders headers;   // header fields of the final answer, in arrival order
    QString error;         // why no answer arrived, for diagnosis

    // A whole answer with a 2xx status.
    bool success() const { return ok && status >= 200 && status < 300; }
    // The first header field of that name (names compare without case); empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// Lets pending window events run while a transfer waits.
using WaitPump = std::function<void()>;

// One synchronous HTTP GET at a time, waiting until the whole answer has arrived or the time-out
// has passed. Redirects are followed, at most MaxRedirects of them. Kept connections are reused
// between requests of the same client. With a pump set, the wait runs it every few tens of
// milliseconds, so the window stays responsive; a request started from inside the pump while
// another one of the same client waits fails at once.
class HttpClient {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{60000};
    static constexpr long MaxRedirects = 5;
    // The most a text reply (a script's answer) may hold.
    static constexpr qint64 TextReplyLimit = 1 << 20;

    explicit HttpClient(std::chrono::milliseconds timeout = DefaultTimeout);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    std::chrono::milliseconds timeout() const { return timeout_; }
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // No connection, a transport error, the time-out, more redirects than allowed or a body
    // beyond maxBody bytes (0: no bound) give ok == false; a body beyond the bound is read no
    // further. Extra header fields are sent as given (for example "Range" with "bytes=100-").
    HttpReply get(const QString& url, const HttpHeaders& extraHeaders = {}, qint64 maxBody = 0);

    // A script's answer: at most TextReplyLimit bytes, and a final status other than 2xx is a
    // failed request (ok == false, empty body) however its body reads. Every text request of the
    // program goes through here.
    HttpReply getText(const QString& url);

    void setPump(WaitPump pump) { pump_ = std::move(pump); }

    // Told of every script request's final reply, to say in the reason log why one failed and when
    // the script answers again.
    std::function<void(const QString& url, const HttpReply& reply)> onReply;

private:
    void* curl_ = nullptr;
    void* multi_ = nullptr;
    std::chrono::milliseconds timeout_;
    WaitPump pump_;
    bool busy_ = false;
};

// Runs a prepared libcurl easy handle to its end as curl_easy_perform does, running `pump` while
// it waits (none: a plain blocking transfer). Returns the transfer's CURLcode. A pump that throws
// leaves the transfer abandoned and the handle free for cleanup.
int performWaiting(void* easy, const WaitPump& pump);

// RFC 3986 percent-encoding of a query value: the UTF-8 bytes of everything but the unreserved
// characters (letters, digits, "-", ".", "_", "~") become "%XX".
QString percentEncode(QStringView value);

}  // namespace tarvelo::data
