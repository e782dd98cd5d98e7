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
    bool ok = false;       // a whole HTTP answer arrived, whatever its status code
    long status = 0;       // the answer's status code; 0 when none arrived
    QByteArray body;       // exactly as received
    HttpHeaders headers;   // header fields of the final answer, in arrival order
    QString error;         // why no answer arrived, for diagnosis

    // A whole answer with a 2xx status.
    bool success() const { return ok && status >= 200 && status < 300; }
    // The first header field of that name (names compare without case); empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// One synchronous HTTP GET at a time, waiting until the whole answer has arrived or the time-out
// has passed. Kept connections are reused between requests of the same client.
class HttpClient {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{60000};

    explicit HttpClient(std::chrono::milliseconds timeout = DefaultTimeout);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    std::chrono::milliseconds timeout() const { return timeout_; }
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // No connection, a transport error or the time-out give ok == false. Extra header fields
    // are sent as given (for example "Range" with "bytes=100-").
    HttpReply get(const QString& url, const HttpHeaders& extraHeaders = {});

private:
    void* curl_ = nullptr;
    std::chrono::milliseconds timeout_;
};

// RFC 3986 percent-encoding of a query value: the UTF-8 bytes of everything but the unreserved
// characters (letters, digits, "-", ".", "_", "~") become "%XX".
QString percentEncode(QStringView value);

}  // namespace tarvelo::data
