// tarvelo-devsim: a simulated fingerprint device on ADDR:PORT until SIGINT or SIGTERM.
#include "support/device_simulator.h"

#include <QFile>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: tarvelo-devsim --listen ADDR:PORT [--punches FILE]\n"
                 "Plays one fingerprint device at ADDR:PORT (a dotted IPv4 address; PORT 0 picks a free one).\n"
                 "FILE holds one punch per line: ENROLL,yyyy-mm-dd hh:mm:ss (the time follows the last comma;\n"
                 "empty lines and lines starting with # are skipped). Each operation is printed as it happens.\n");
}

// Reads the punch file; false with a message on a line it cannot read.
bool readPunches(const QString& path, std::vector<tarvelo::test::PunchRecord>& out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "tarvelo-devsim: cannot read %s\n", qPrintable(path));
        return false;
    }
    QTextStream in(&f);
    int number = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++number;
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        const qsizetype comma = line.lastIndexOf(u',');
        try {
            if (comma < 0)
                throw std::invalid_argument("no comma");
            out.push_back(tarvelo::test::punch(line.left(comma), line.mid(comma + 1).trimmed()));
        } catch (const std::exception&) {
            std::fprintf(stderr, "tarvelo-devsim: %s line %d is not ENROLL,yyyy-mm-dd hh:mm:ss\n", qPrintable(path),
                         number);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QString listen;
    QString punchFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tarvelo-devsim: %s needs a value\n", arg.c_str());
            usage();
            return 2;
        }
        if (arg == "--listen")
            listen = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--punches")
            punchFile = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "tarvelo-devsim: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
    }
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    const uint port = colon > 0 ? listen.mid(colon + 1).toUInt(&portOk) : 0;
    if (colon <= 0 || !portOk || port > 65535) {
        std::fprintf(stderr, "tarvelo-devsim: --listen ADDR:PORT is required\n");
        usage();
        return 2;
    }

    std::vector<tarvelo::test::PunchRecord> punches;
    if (!punchFile.isEmpty() && !readPunches(punchFile, punches))
        return 2;

    try {
        tarvelo::test::DeviceSimulator device(listen.left(colon), quint16(port));
        device.addPunches(punches);
        device.setObserver([](const QString& op) {
            if (op != u"next") {
                std::printf("%s\n", qPrintable(op));
                std::fflush(stdout);
            }
        });
        std::printf("listening on %s:%u with %d punches\n", qPrintable(device.address()), unsigned(device.port()),
                    device.logSize());
        std::fflush(stdout);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        while (!stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::printf("connects %d, punches left %d\n", device.connects(), device.logSize());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvelo-devsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
