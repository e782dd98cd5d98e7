#pragma once
#include "data/error_log.h"
#include "data/http_client.h"
#include "data/run_state.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tarvelo::data {

using QueryItems = std::vector<std::pair<QString, QString>>;

// base + script, then "?key=value&key=value..." in the given order, every value percent-encoded
// (the web server decodes them before the scripts see them).
QString webRequestUrl(const QString& base, const QString& script, const QueryItems& query = {});

// The server's answer to getnow.php as a local date and time; nothing when it is not one.
std::optional<QDateTime> parseServerTime(const QString& reply);

// The reason line of a failed script request: the script, the transfer's error or HTTP status and the
// address without its query (which carries credentials), and Url_Web in the configuration file to check.
// An answered request ends the script's outage.
void noteWebReply(ErrorLog& log, const QString& url, const HttpReply& reply, const QString& configFile);

// Whole seconds from local to server, counted between second boundaries as the server's clock
// has no finer resolution.
qint64 clockOffsetSeconds(const QDateTime& local, const QDateTime& server);

// The requests to the web service that carry the acknowledgement ledger, the server clock and
// the per-cycle announcement. Each waits for its answer on the calling thread. A request fails
// when no answer arrives, when the final status (after at most HttpClient::MaxRedirects
// redirects) is not 2xx, or when the answer is longer than HttpClient::TextReplyLimit.
class WebService {
public:
    WebService(RunState& run, ErrorLog& log, EventPump pump,
               std::chrono::milliseconds timeout = HttpClient::DefaultTimeout);

    // One acknowledgement row; "OK" means stored. "OK" without a request for the rows the server
    // never keeps; the empty text when the request failed.
    QString Web_Save_Syn(const QString& treco, const QString& SynLast, const QString& norec, qint16 kin1,
                         qint16 kin2, const QString& mainbranch);
    // Removes the server's ledger rows of one announcement; "1" means done, "NotOk" a failed request.
    // `kin1` names the family: 0 the record rows (kinds 0 and 1), 2 the deletion rows (2 and 3).
    // A record exchange and a deletion announced right after it share treco, SynLast and norec, so
    // without the family closing one would remove the other; scripts that predate the key ignore it.
    QString Web_Delete_Syn(const QString& treco, const QString& SynLast, const QString& norec, qint16 kin1);
    // Measures Time_Diff from the server's clock; false when it could not.
    bool Get_TimeDiff();
    // The cycle's first request; its answer's numeric value, 0 when there is none.
    qint16 Int_Branx();

    // Url_Web, the script and the encoded query.
    QString requestUrl(const QString& script, const QueryItems& query = {}) const;

    // Tables whose acknowledgement rows never reach the server (names compare exactly), as the
    // layer that knows the families says; none while unset.
    std::function<bool(const QString& table)> isDetailTable;

    void setTimeout(std::chrono::milliseconds timeout);

    // Asked right before each request that writes the server's ledger (save_syn.php,
    // delete_syn.php); false: it is not sent and fails as one that got no answer.
    std::function<bool()> mayWrite;

    // The clients each request goes through, one per purpose as in the main window; later
    // requests of the start-up and update flows may use them too.
    HttpClient Inet1;  // intBranx.php
    HttpClient Inet3;  // getnow.php
    HttpClient Inet8;  // save_syn.php, delete_syn.php

private:
    QueryItems serverCredentials() const;

    RunState& run_;
    ErrorLog& log_;
    EventPump pump_;
};

}  // namespace tarvelo::data
