#include "support/ref_web_service.h"

#include "data/database.h"
#include "data/odbc.h"
#include "data/sql_text.h"
#include "support/test_db.h"

#include <httplib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvelo::test {

namespace {

using httplib::Request;
using httplib::Response;

const char* const kTextType = "text/html; charset=UTF-8";
// The fault queue that any script's request takes from.
const std::string kAnyScript = "*";

// The scripts whose work a delayed request does when its delay is over.
bool worksAfterDelay(const std::string& script)
{
    return script == "save_syn.php" || script == "delete_syn.php" || script == "intBranx.php" || script == "getnow.php";
}

// The script a request path names: "save_syn.php" for "/test1/save_syn.php",
// "downloads/x.exe" for "/downloads/x.exe".
std::string scriptOf(const std::string& path)
{
    static const std::string scripts = "/test1/";
    if (path.rfind(scripts, 0) == 0)
        return path.substr(scripts.size());
    return path.empty() ? path : path.substr(1);
}

QString param(const Request& req, const char* key)
{
    return QString::fromStdString(req.get_param_value(key));
}

// The statement with each '?' replaced by its value as a literal: one plain round trip, where
// bound values cost the server a prepare and a close as well.
QString withValues(const QString& sql, const std::vector<QString>& values)
{
    QString out;
    size_t next = 0;
    for (QChar c : sql) {
        if (c == u'?' && next < values.size())
            out += data::sqlLiteral(values[next++]);
        else
            out += c;
    }
    return out;
}

// Shuts down every accepted connection of the server on `port` in this process, so that worker
// threads waiting on a kept-alive connection notice the stop at once instead of at its time-out.
void shutDownAcceptedSockets(int port)
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    std::vector<int> fds;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && fd != dirfd(dir))
            fds.push_back(int(fd));
    }
    closedir(dir);
    for (int fd : fds) {
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET
            || ntohs(local.sin_port) != port)
            continue;
        sockaddr_in peer{};
        len = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0)
            continue;
        shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace

RefWebService::Fault RefWebService::Fault::httpError(int status, std::string body)
{
    Fault f;
    f.kind = Kind::HttpStatus;
    f.status = status;
    f.body = std::move(body);
    return f;
}

RefWebService::Fault RefWebService::Fault::reply(std::string word)
{
    Fault f;
    f.kind = Kind::Body;
    f.status = 200;
    f.body = std::move(word);
    return f;
}

RefWebService::Fault RefWebService::Fault::delayed(std::chrono::milliseconds delay)
{
    Fault f;
    f.kind = Kind::Delay;
    f.delay = delay;
    return f;
}

RefWebService::Fault RefWebService::Fault::redirect(QString location, int status, std::string body)
{
    Fault f;
    f.kind = Kind::Redirect;
    f.status = status;
    f.location = location.toStdString();
    f.body = std::move(body);
    return f;
}

RefWebService::Fault RefWebService::Fault::lostReply()
{
    Fault f;
    f.kind = Kind::AfterWork;
    return f;
}

RefWebService::Fault RefWebService::Fault::garbageAfterWork(std::string body)
{
    Fault f;
    f.kind = Kind::AfterWork;
    f.body = std::move(body);
    return f;
}

RefWebService::Fault RefWebService::Fault::streamed(qint64 bytes)
{
    Fault f;
    f.kind = Kind::Stream;
    f.status = 200;
    f.bytes = bytes;
    return f;
}

namespace {
// The after-work fault taken by the request this worker thread is handling.
thread_local std::optional<RefWebService::Fault> t_afterWork;
// The request this worker thread is handling was delayed and is still to do its work.
thread_local bool t_delayed = false;
// The text under which the request this worker thread is handling was held; empty when it was not.
thread_local std::string t_hold;
}  // namespace

struct RefWebService::Impl {
    Options options;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopped{false};

    mutable std::mutex state;
    qint64 clockOffset = 0;
    std::string verNumSyn, verNum, lastSendError = "--";
    std::map<std::string, std::deque<std::pair<Fault, int>>> faults;
    std::vector<std::string> targets;
    qint64 lastDtNowMicros = 0;
    qint64 faultsTaken = 0;
    int delayedInFlight = 0;
    std::condition_variable delayedDone;

    std::map<std::string, std::deque<DownloadFault>> downloadFaults;
    std::vector<std::string> downloadRanges;

    std::mutex db;
    std::map<std::string, std::shared_ptr<data::OdbcConnection>> connections;

    std::mutex sleepMutex;
    std::condition_variable sleepCv;
    enum class Hold { Armed, Held, Released };
    std::map<std::string, Hold> holds;  // under sleepMutex

    explicit Impl(Options o) : options(std::move(o))
    {
        if (options.dbPort.isEmpty())
            options.dbPort = TestServer::get().port;
    }

    std::optional<Fault> takeFault(const std::string& script, const std::string& target)
    {
        std::lock_guard lock(state);
        const auto applies = [&](const std::string& queue) {
            auto it = faults.find(queue);
            return it != faults.end() && !it->second.empty()
                           && (it->second.front().first.only.empty()
                               || target.find(it->second.front().first.only) != std::string::npos)
                       ? it
                       : faults.end();
        };
        auto it = applies(script);
        if (it == faults.end() && target.rfind("/test1/", 0) == 0)
            it = applies(kAnyScript);
        if (it == faults.end())
            return std::nullopt;
        auto& [fault, left] = it->second.front();
        Fault taken = fault;
        if (--left <= 0)
            it->second.pop_front();
        ++faultsTaken;
        if (taken.kind == Fault::Kind::Delay)
            ++delayedInFlight;
        return taken;
    }

    QDateTime serverNow() const
    {
        std::lock_guard lock(state);
        return QDateTime::currentDateTime().addSecs(clockOffset);
    }

    // Server time with microseconds, strictly increasing, so DTNow sorts in posting order.
    QString nextDtNow()
    {
        std::lock_guard lock(state);
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        qint64 micros = std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()
                        + clockOffset * 1'000'000;
        if (micros <= lastDtNowMicros)
            micros = lastDtNowMicros + 1;
        lastDtNowMicros = micros;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(micros / 1000);
        return at.toString(QStringLiteral("yyyyMMddhhmmss")) + QStringLiteral("%1").arg(micros % 1'000'000, 6, 10, QChar(u'0'));
    }

    // Runs `work` on a connection made with the request's credentials; the answer names what
    // went wrong when a key is missing or the database refuses.
    template <class Work>
    std::string withDatabase(const Request& req, const std::vector<const char*>& keys, Work&& work)
    {
        for (const char* key : keys)
            if (!req.has_param(key))
                return std::string("Error: missing key ") + key;
        const data::DbSettings settings{param(req, "host"), options.dbPort, param(req, "datb"), param(req, "user"),
                                        param(req, "pasw")};
        const std::string cacheKey = (settings.host + u'\n' + settings.user + u'\n' + settings.password + u'\n'
                                      + settings.name).toStdString();
        std::lock_guard lock(db);
        for (int attempt = 0;; ++attempt) {
            // Scratch databases come and go; keep only a few connections open.
            if (!connections.count(cacheKey) && connections.size() >= 16)
                connections.clear();
            auto& conn = connections[cacheKey];
            const bool reused = bool(conn);
            try {
                if (!conn)
                    conn = data::OdbcConnection::open(data::connectionString(settings), 10);
                work(*conn);
                return "OK";
            } catch (const std::exception& e) {
                connections.erase(cacheKey);
                // A kept connection may have gone stale; a new one decides.
                if (!reused || attempt > 0)
                    return std::string("Error: ") + e.what();
            }
        }
    }

    void saveSyn(const Request& req, Response& res)
    {
        const std::string outcome = withDatabase(
            req, {"host", "user", "pasw", "datb", "treco", "SynLast", "norec", "branch", "kin1", "kin2", "mainbranch"},
            [&](data::OdbcConnection& conn) {
                const QString dtNow = nextDtNow();
                const long long matched = conn.execute(withValues(
                    QStringLiteral("UPDATE atten_rec SET kin2 = ?, mainbranch = ?, DTNow = ? WHERE NoRec = ? AND "
                                   "branch = ? AND treco = ? AND SynLast = ? AND kin1 = ?"),
                    {param(req, "kin2"), param(req, "mainbranch"), dtNow, param(req, "norec"), param(req, "branch"),
                     param(req, "treco"), param(req, "SynLast"), param(req, "kin1")}), {});
                if (matched == 0)
                    conn.execute(withValues(QStringLiteral("INSERT INTO atten_rec (NoRec, treco, branch, SynLast, kin1, "
                                                           "kin2, mainbranch, DTNow) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                                            {param(req, "norec"), param(req, "treco"), param(req, "branch"),
                                             param(req, "SynLast"), param(req, "kin1"), param(req, "kin2"),
                                             param(req, "mainbranch"), dtNow}), {});
            });
        answer(res, outcome);
    }

    // The script's answer, unless an after-work fault loses it.
    void answer(Response& res, const std::string& outcome)
    {
        std::optional<Fault> fault;
        fault.swap(t_afterWork);
        if (!fault) {
            res.set_content(outcome, kTextType);
            return;
        }
        if (!fault->body.empty()) {
            res.set_content(fault->body, kTextType);
            return;
        }
        // Headers promise a body that never comes: the client sees the connection drop.
        res.set_content_provider(
            64, kTextType, [](size_t, size_t, httplib::DataSink&) { return false; });
    }

    void deleteSyn(const Request& req, Response& res)
    {
        const std::string outcome = withDatabase(
            req, {"host", "user", "pasw", "datb", "treco", "SynLast", "norec"}, [&](data::OdbcConnection& conn) {
                std::vector<QString> params{param(req, "treco"), param(req, "SynLast"), param(req, "norec")};
                QString sql = QStringLiteral("DELETE FROM atten_rec WHERE treco = ? AND SynLast = ? AND NoRec = ?");
                // The family key: a closed record exchange must not take a fresh deletion
                // announcement of the same version with it, nor the other way round.
                if (req.has_param("kin1")) {
                    const QString family = param(req, "kin1");
                    const bool deletions = family.toInt() >= 2;
                    sql += QStringLiteral(" AND kin1 IN (?, ?)");
                    params.push_back(deletions ? QStringLiteral("2") : QStringLiteral("0"));
                    params.push_back(deletions ? QStringLiteral("3") : QStringLiteral("1"));
                }
                conn.execute(withValues(sql, params), {});
            });
        answer(res, outcome == "OK" ? std::string("1") : outcome);
    }

    void intBranx(const Request& req, Response& res)
    {
        const std::string outcome = withDatabase(req, {"host", "user", "pasw", "datb"},
                                                 [&](data::OdbcConnection& conn) { conn.query("SELECT 1"); });
        res.set_content(outcome == "OK" ? std::string("1") : outcome, kTextType);
    }

    void getNow(const Request&, Response& res)
    {
        res.set_content(serverNow().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString(), kTextType);
    }

    void delayedWorkDone()
    {
        t_delayed = false;
        if (!t_hold.empty()) {
            {
                std::lock_guard lock(sleepMutex);
                holds.erase(t_hold);
            }
            t_hold.clear();
            sleepCv.notify_all();
        }
        {
            std::lock_guard lock(state);
            --delayedInFlight;
        }
        delayedDone.notify_all();
    }

    void fixedText(const std::string Impl::*field, Response& res)
    {
        std::lock_guard lock(state);
        res.set_content(this->*field, kTextType);
    }

    // Holds the request when an armed hold's text is in its target, until it is released;
    // false when the service stopped first, or nothing holds the request.
    bool held(const std::string& target)
    {
        std::unique_lock lock(sleepMutex);
        const auto it = std::find_if(holds.begin(), holds.end(), [&](const auto& h) {
            return h.second == Hold::Armed && target.find(h.first) != std::string::npos;
        });
        if (it == holds.end())
            return false;
        it->second = Hold::Held;
        t_hold = it->first;
        {
            std::lock_guard count(state);
            ++delayedInFlight;
        }
        sleepCv.wait(lock, [&] { return stopped.load() || holds[t_hold] == Hold::Released; });
        return !stopped.load();
    }

    // Waits, unless the service is stopped first.
    bool pause(std::chrono::milliseconds delay)
    {
        std::unique_lock lock(sleepMutex);
        return !sleepCv.wait_for(lock, delay, [this] { return stopped.load(); });
    }

    // Records the Range header of a download and plays its queued fault, if any.
    bool serveDownloadFault(const Request& req, Response& res)
    {
        static const std::string prefix = "/downloads/";
        if (req.path.rfind(prefix, 0) != 0)
            return false;
        const std::string file = req.path.substr(prefix.size());
        std::optional<DownloadFault> fault;
        {
            std::lock_guard lock(state);
            downloadRanges.push_back(req.get_header_value("Range"));
            auto it = downloadFaults.find(file);
            if (it != downloadFaults.end() && !it->second.empty()) {
                fault = it->second.front();
                it->second.pop_front();
            }
        }
        if (!fault)
            return false;
        if (fault->kind == DownloadFault::Kind::NotFoundPage) {
            res.status = 404;
            res.set_content("<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>",
                            kTextType);
            return true;
        }
        QFile source(QDir(options.downloadsDir).filePath(QString::fromStdString(file)));
        if (!source.open(QIODevice::ReadOnly))
            throw std::runtime_error("a download fault names a file that is not there: " + file);
        auto body = std::make_shared<std::string>(source.readAll().toStdString());
        const char* type = "application/octet-stream";
        res.status = 200;
        switch (fault->kind) {
        case DownloadFault::Kind::ShortBody:
            res.set_content_provider(body->size() + 100, type, [body](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= body->size())
                    return false;  // closes the connection short of the promised length
                sink.write(body->data() + offset, body->size() - offset);
                return true;
            });
            break;
        case DownloadFault::Kind::Chunked:
            res.set_chunked_content_provider(type, [body](size_t offset, httplib::DataSink& sink) {
                for (size_t at = offset; at < body->size(); at += 512)
                    sink.write(body->data() + at, std::min<size_t>(512, body->size() - at));
                sink.done();
                return true;
            });
            break;
        case DownloadFault::Kind::DroppedMidBody:
            res.set_content_provider(body->size(), type, [this, body, gap = fault->pause](size_t offset, size_t,
                                                                                              httplib::DataSink& sink) {
                if (offset > 0) {
                    this->pause(gap);
                    return false;
                }
                sink.write(body->data(), body->size() / 2);
                return true;
            });
            break;
        case DownloadFault::Kind::Paced:
            res.set_content_provider(body->size(), type, [this, body, f = *fault](size_t offset, size_t left,
                                                                                    httplib::DataSink& sink) {
                // The piece that starts at `offset`.
                size_t start = 0, piece = left;
                for (size_t size : f.pieces) {
                    if (start == offset) {
                        piece = std::min(size, left);
                        break;
                    }
                    start += size;
                }
                sink.write(body->data() + offset, piece);
                return this->pause(f.pause);
            });
            break;
        case DownloadFault::Kind::NotFoundPage:
            break;
        }
        return true;
    }

    void routes()
    {
        server.set_pre_routing_handler([this](const Request& req, Response& res) {
            t_afterWork.reset();
            t_delayed = false;
            {
                std::lock_guard lock(state);
                targets.push_back(req.target);
            }
            if (serveDownloadFault(req, res))
                return httplib::Server::HandlerResponse::Handled;
            if (held(req.target)) {
                t_delayed = true;
                return httplib::Server::HandlerResponse::Unhandled;
            }
            if (!t_hold.empty()) {
                res.status = 503;
                delayedWorkDone();
                return httplib::Server::HandlerResponse::Handled;
            }
            const std::optional<Fault> fault = takeFault(scriptOf(req.path), req.target);
            if (!fault)
                return httplib::Server::HandlerResponse::Unhandled;
            switch (fault->kind) {
            case Fault::Kind::HttpStatus:
                res.status = fault->status;
                res.set_content(fault->body, kTextType);
                return httplib::Server::HandlerResponse::Handled;
            case Fault::Kind::Body:
                res.status = 200;
                res.set_content(fault->body, kTextType);
                return httplib::Server::HandlerResponse::Handled;
            case Fault::Kind::Redirect:
                res.status = fault->status;
                res.set_header("Location", fault->location);
                res.set_content(fault->body, kTextType);
                return httplib::Server::HandlerResponse::Handled;
            case Fault::Kind::Stream: {
                // Made while it is sent, so that a reply of any size costs no memory here.
                const qint64 total = fault->bytes;
                res.status = 200;
                res.set_chunked_content_provider(kTextType, [this, total](size_t offset, httplib::DataSink& sink) {
                    static const std::string chunk(64 * 1024, 'x');
                    const qint64 left = total - qint64(offset);
                    if (left <= 0 || stopped) {
                        sink.done();
                        return true;
                    }
                    return sink.write(chunk.data(), size_t(std::min<qint64>(left, qint64(chunk.size()))));
                });
                return httplib::Server::HandlerResponse::Handled;
            }
            case Fault::Kind::AfterWork:
                t_afterWork = *fault;
                return httplib::Server::HandlerResponse::Unhandled;
            case Fault::Kind::Delay:
                if (!pause(fault->delay)) {
                    res.status = 503;
                    delayedWorkDone();
                    return httplib::Server::HandlerResponse::Handled;
                }
                // Only the database scripts and the clock count their work done; anything else
                // (a fixed text, a missing page) is done once the delay is over.
                if (worksAfterDelay(scriptOf(req.path)))
                    t_delayed = true;
                else
                    delayedWorkDone();
                return httplib::Server::HandlerResponse::Unhandled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        // A delayed request counts as in flight until its script's work is done.
        const auto script = [this](void (Impl::*work)(const Request&, Response&)) {
            return [this, work](const Request& req, Response& res) {
                (this->*work)(req, res);
                if (t_delayed)
                    delayedWorkDone();
            };
        };
        server.Get(R"(/test1/save_syn\.php)", script(&Impl::saveSyn));
        server.Get(R"(/test1/delete_syn\.php)", script(&Impl::deleteSyn));
        server.Get(R"(/test1/intBranx\.php)", script(&Impl::intBranx));
        server.Get(R"(/test1/getnow\.php)", script(&Impl::getNow));
        server.Get(R"(/test1/VerNumSyn\.php)", [this](const Request&, Response& res) { fixedText(&Impl::verNumSyn, res); });
        server.Get(R"(/test1/VerNum\.php)", [this](const Request&, Response& res) { fixedText(&Impl::verNum, res); });
        server.Get(R"(/test1/LastSendError\.php)",
                   [this](const Request&, Response& res) { fixedText(&Impl::lastSendError, res); });
        if (!options.downloadsDir.isEmpty()
            && !server.set_mount_point("/downloads", QDir(options.downloadsDir).absolutePath().toStdString()))
            throw std::runtime_error("the downloads folder does not exist: " + options.downloadsDir.toStdString());
    }

    void start()
    {
        routes();
        // Without TCP_NODELAY every kept-alive answer waits for the peer's delayed ACK (~40 ms).
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(1'000'000);
        server.set_keep_alive_timeout(options.keepAlive.count());
        const size_t threads = size_t(std::max(options.threads, 2));
        server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };

        if (options.port == 0) {
            port = server.bind_to_any_port("127.0.0.1");
            if (port <= 0)
                throw std::runtime_error("the reference web service found no free port on 127.0.0.1");
        } else {
            if (!server.bind_to_port("127.0.0.1", options.port))
                throw std::runtime_error("the reference web service cannot listen on 127.0.0.1:"
                                         + std::to_string(options.port));
            port = options.port;
        }
        thread = std::thread([this] { server.listen_after_bind(); });
        // stop() only takes effect once the accept loop runs.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!server.is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void stop()
    {
        if (stopped.exchange(true))
            return;
        {
            std::lock_guard lock(sleepMutex);
        }
        sleepCv.notify_all();
        server.stop();
        shutDownAcceptedSockets(port);
        if (thread.joinable())
            thread.join();
        std::lock_guard lock(db);
        connections.clear();
    }
};

RefWebService::RefWebService() : RefWebService(Options{}) {}

RefWebService::RefWebService(Options options) : d(std::make_unique<Impl>(std::move(options)))
{
    d->start();
}

RefWebService::~RefWebService()
{
    stop();
}

void RefWebService::stop()
{
    d->stop();
}

int RefWebService::port() const
{
    return d->port;
}

QString RefWebService::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/test1/").arg(d->port);
}

QString RefWebService::downloadsUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/downloads/").arg(d->port);
}

void RefWebService::setClockOffset(qint64 seconds)
{
    std::lock_guard lock(d->state);
    d->clockOffset = seconds;
}

void RefWebService::setVerNumSyn(const QString& reply)
{
    std::lock_guard lock(d->state);
    d->verNumSyn = reply.toStdString();
}

void RefWebService::setVerNum(const QString& reply)
{
    std::lock_guard lock(d->state);
    d->verNum = reply.toStdString();
}

void RefWebService::setLastSendError(const QString& reply)
{
    std::lock_guard lock(d->state);
    d->lastSendError = reply.toStdString();
}

void RefWebService::failNext(const QString& script, int count, const Fault& fault)
{
    if (count <= 0)
        return;
    std::lock_guard lock(d->state);
    d->faults[script.toStdString()].emplace_back(fault, count);
}

void RefWebService::failNextRequest(const Fault& fault)
{
    std::lock_guard lock(d->state);
    d->faults[kAnyScript].emplace_back(fault, 1);
}

void RefWebService::clearFaults()
{
    {
        std::lock_guard lock(d->state);
        d->faults.clear();
    }
    std::lock_guard lock(d->sleepMutex);
    for (auto it = d->holds.begin(); it != d->holds.end();)
        if (it->second == Impl::Hold::Armed) {
            it = d->holds.erase(it);
        } else {
            it->second = Impl::Hold::Released;
            ++it;
        }
    d->sleepCv.notify_all();
}

bool RefWebService::dropFault(const QString& script, const std::string& only)
{
    std::lock_guard lock(d->state);
    auto& queue = d->faults[script.toStdString()];
    const auto it = std::find_if(queue.begin(), queue.end(), [&](const auto& f) { return f.first.only == only; });
    if (it == queue.end())
        return false;
    queue.erase(it);
    return true;
}

void RefWebService::holdNext(const QString& text)
{
    std::lock_guard lock(d->sleepMutex);
    d->holds.emplace(text.toStdString(), Impl::Hold::Armed);
}

bool RefWebService::holding(const QString& text) const
{
    std::lock_guard lock(d->sleepMutex);
    const auto it = d->holds.find(text.toStdString());
    return it != d->holds.end() && it->second == Impl::Hold::Held;
}

void RefWebService::release(const QString& text)
{
    const std::string key = text.toStdString();
    std::unique_lock lock(d->sleepMutex);
    const auto it = d->holds.find(key);
    if (it == d->holds.end())
        return;
    if (it->second == Impl::Hold::Armed) {
        d->holds.erase(it);
        return;
    }
    it->second = Impl::Hold::Released;
    d->sleepCv.notify_all();
    d->sleepCv.wait_for(lock, std::chrono::seconds(30), [&] { return d->holds.count(key) == 0 || d->stopped.load(); });
}

qint64 RefWebService::faultsTaken() const
{
    std::lock_guard lock(d->state);
    return d->faultsTaken;
}

int RefWebService::delayedInFlight() const
{
    std::lock_guard lock(d->state);
    return d->delayedInFlight;
}

bool RefWebService::waitForDelayed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(d->state);
    return d->delayedDone.wait_for(lock, timeout, [this] { return d->delayedInFlight <= 0; });
}

void RefWebService::failNextDownload(const QString& file, const DownloadFault& fault)
{
    std::lock_guard lock(d->state);
    d->downloadFaults[file.toStdString()].push_back(fault);
}

QStringList RefWebService::downloadRanges() const
{
    std::lock_guard lock(d->state);
    QStringList out;
    for (const std::string& r : d->downloadRanges)
        out << QString::fromStdString(r);
    return out;
}

QStringList RefWebService::requests() const
{
    std::lock_guard lock(d->state);
    QStringList out;
    for (const std::string& t : d->targets)
        out << QString::fromStdString(t);
    return out;
}

QStringList RefWebService::requestsTo(const QString& script) const
{
    QStringList out;
    for (const QString& t : requests()) {
        const QString path = t.section(u'?', 0, 0);
        if (path == "/test1/" + script || path == u'/' + script)
            out << t;
    }
    return out;
}

void RefWebService::clearRequests()
{
    std::lock_guard lock(d->state);
    d->targets.clear();
}

}  // namespace tarvelo::test
