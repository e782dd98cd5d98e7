#pragma once
// The ICMP echo under Reachability::Ping_Ip on Linux sockets, in its two steps.
#include <QString>
#include <chrono>

namespace tarvelo::data::icmp {

struct Echo {
    quint32 target = 0;  // network byte order
    quint16 id = 0;      // chosen by the kernel on datagram sockets
    quint16 seq = 0;
};

enum class Verdict { Unrelated, Answered, Failed };

struct Outcome {
    Verdict verdict = Verdict::Unrelated;  // Unrelated: nothing about the echo before the deadline
    qint32 status = 0;                     // for Failed, the IP status the error stands for
    quint32 from = 0;
    QString data;
    int dataSize = 0;
};

// Sends the echo request (carrying Reachability::RequestData) on an ICMP socket; 0, or the
// status of a send the system refused at once.
qint32 sendEcho(int fd, const Echo& echo);

// Waits on the socket until the echo's answer or an error about it arrives, or the deadline.
// Errors are taken from the socket's error queue (IP_RECVERR) as well as from ICMP messages a
// raw socket receives; `raw` says that the socket delivers IP headers and every host's ICMP.
Outcome awaitEcho(int fd, bool raw, const Echo& echo, std::chrono::steady_clock::time_point deadline);

}  // namespace tarvelo::data::icmp
