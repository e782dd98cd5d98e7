#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>
#include <chrono>

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

// One synchronous HTTP GET at a time, waiting until the whole answer has arrived or the time-out
// has passed. Redirects are followed, at most MaxRedirects of them. Kept connections are reused
// between requests of the same client.
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

private:
    void* curl_ = nullptr;
    std::chrono::milliseconds timeout_;
};

// RFC 3986 percent-encoding of a query value: the UTF-8 bytes of everything but the unreserved
// characters (letters, digits, "-", ".", "_", "~") become "%XX".
QString percentEncode(QStringView value);

}  // namespace tarvelo::data
