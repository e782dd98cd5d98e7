#pragma once
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tarvelo::test {

// The server scripts of the web service, played over the server database on 127.0.0.1, for the
// tests and for running the program locally. Serves in background threads from construction to
// destruction.
//
//   /test1/save_syn.php     stores or refreshes the one atten_rec row of its key (NoRec, branch,
//                           treco, SynLast, kin1), answers "OK"
//   /test1/delete_syn.php   removes the atten_rec rows of one record version, answers "1"; with
//                           kin1 "0" only the record family (kin1 0 and 1), with "2" only the
//                           deletion family (2 and 3)
//   /test1/getnow.php       the server clock, "yyyy-MM-dd hh:mm:ss", shifted by the clock offset
//   /test1/intBranx.php     answers "1" once the server database accepts the credentials
//   /test1/VerNumSyn.php, /test1/VerNum.php, /test1/LastSendError.php   texts set by the test
//   /downloads/<file>       files of the downloads folder, "Range: bytes=" honoured
//
// The database scripts connect with host, user, pasw and datb from the query and the configured
// port; a missing key or a refused connection gives an answer that starts with "Error".
class RefWebService {
public:
    struct Options {
        QString dbPort;        // MariaDB port the scripts connect to; empty: the test server's
        QString downloadsDir;  // served under /downloads/; empty: nothing there
        int port = 0;          // 0 picks a free port
        int threads = 128;     // every kept-alive connection holds one while it stays open
        std::chrono::seconds keepAlive{60};
    };

    // What the next requests of a script get instead of the script's work.
    struct Fault {
        // AfterWork: the script does its work, then the reply is lost: with an empty body the
        // connection closes mid-answer, else `body` comes back in place of the script's answer.
        enum class Kind { HttpStatus, Body, Delay, Redirect, Stream, AfterWork };
        Kind kind = Kind::HttpStatus;
        int status = 500;
        std::string body;                   // for HttpStatus, Body (answers 200) and Redirect
        std::chrono::milliseconds delay{0}; // for Delay: wait, then do the script's work
        std::string location;               // for Redirect
        qint64 bytes = 0;                   // for Stream: a 200 answer of that many 'x', sent in chunks
        std::string only;                   // when set: only a request whose target holds it takes the fault

        // The same fault, taken only by a request whose target (path and query) holds `text`
        // ("norec=0100001&kin1=1"); the others pass it by and it waits for one that does.
        Fault when(std::string text) const
        {
            Fault f = *this;
            f.only = std::move(text);
            return f;
        }

        static Fault httpError(int status = 500, std::string body = "<html><body>Internal Server Error</body></html>");
        static Fault emptyBody() { return reply(std::string()); }
        static Fault reply(std::string word);
        static Fault delayed(std::chrono::milliseconds delay);
        static Fault redirect(QString location, int status = 302, std::string body = "OK");
        static Fault streamed(qint64 bytes);
        static Fault lostReply();
        static Fault garbageAfterWork(std::string body = "<html><body>Gateway Time-out</body></html>");
    };

    RefWebService();
    explicit RefWebService(Options options);
    ~RefWebService();
    RefWebService(const RefWebService&) = delete;
    RefWebService& operator=(const RefWebService&) = delete;

    int port() const;
    QString baseUrl() const;       // "http://127.0.0.1:<port>/test1/"
    QString downloadsUrl() const;  // "http://127.0.0.1:<port>/downloads/"

    // Server clock = local clock + seconds.
    void setClockOffset(qint64 seconds);
    void setVerNumSyn(const QString& reply);
    void setVerNum(const QString& reply);
    void setLastSendError(const QString& reply);  // "--" until set

    // The next `count` requests of `script` ("save_syn.php", or "downloads/<file>") get `fault`.
    // Faults of one script queue up in the order given.
    void failNext(const QString& script, int count, const Fault& fault);
    // The next request of whatever script under /test1/ gets `fault`, once no fault queued for
    // its own script applies.
    void failNextRequest(const Fault& fault);
    // Also lets every held request go (below).
    void clearFaults();
    // Takes back a fault queued for `script` that only a request holding `only` takes, so that it
    // no longer stands in front of the faults queued after it; false when none waits (it was taken).
    bool dropFault(const QString& script, const std::string& only);
    // The next request whose target (path and query) holds `text` is held without an answer, long
    // after its caller gave up, until release(text); then its script does its work. It counts as
    // delayed meanwhile.
    void holdNext(const QString& text);
    // Whether such a request is held now.
    bool holding(const QString& text) const;
    // Lets the held request do its work and waits until it has; a hold no request took yet is
    // dropped.
    void release(const QString& text);
    // How many requests got a fault so far: the rounds of a test that took none and changed
    // nothing have settled.
    qint64 faultsTaken() const;
    // Delayed requests whose script has not done its work yet, and a wait until there are none;
    // false when `timeout` came first.
    int delayedInFlight() const;
    bool waitForDelayed(std::chrono::milliseconds timeout);

    // The raw request targets received, in arrival order ("/test1/save_syn.php?host=...").
    QStringList requests() const;
    // Those whose path is /test1/<script> (or /<script>).
    QStringList requestsTo(const QString& script) const;
    void clearRequests();

    // Broken downloads: what the next request of one file under /downloads/ gets instead of the
    // file ("Update4.exe", "010119/Update4.exe"). The faults of a file queue up in the order given.
    struct DownloadFault {
        enum class Kind { ShortBody, Chunked, DroppedMidBody, Paced, NotFoundPage };
        Kind kind = Kind::NotFoundPage;
        std::vector<size_t> pieces;          // Paced: sizes sent one after another; the rest follows
        std::chrono::milliseconds pause{40}; // Paced and DroppedMidBody: wait between pieces

        // Content-Length counts 100 bytes more than the file; the file, then the connection closes.
        static DownloadFault shortBody() { return {Kind::ShortBody, {}, {}}; }
        // The whole file in chunks, without Content-Length.
        static DownloadFault chunked() { return {Kind::Chunked, {}, {}}; }
        // The right Content-Length, half the file, a pause, then the connection is dropped.
        static DownloadFault droppedMidBody() { return {Kind::DroppedMidBody, {}, std::chrono::milliseconds(40)}; }
        // The whole file with its Content-Length, in the given pieces with a pause after each.
        static DownloadFault paced(std::vector<size_t> sizes, std::chrono::milliseconds gap = std::chrono::milliseconds(40))
        {
            return {Kind::Paced, std::move(sizes), gap};
        }
        // Status 404 with an HTML page.
        static DownloadFault notFoundPage() { return {Kind::NotFoundPage, {}, {}}; }
    };
    void failNextDownload(const QString& file, const DownloadFault& fault);
    // The "Range" header of each request under /downloads/, in arrival order ("" when none came).
    QStringList downloadRanges() const;

    // Stops serving; also done by the destructor. Kept-alive connections are closed.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace tarvelo::test
