// tarvelo-refweb: serves the reference web service on 127.0.0.1 until SIGINT or SIGTERM.
#include "support/ref_web_service.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: tarvelo-refweb --db-port PORT [--port PORT] [--downloads DIR] [--clock-offset SECONDS]\n"
                 "                      [--ver-num-syn TEXT] [--ver-num TEXT] [--last-send-error TEXT]\n"
                 "Serves /test1/ (the web-service scripts over the MariaDB server on 127.0.0.1:PORT given by\n"
                 "--db-port; the database, user and password come with each request) and /downloads/.\n"
                 "--port 0 (the default) picks a free port; the address is printed on the first line.\n");
}

bool wholeNumber(const char* text, long long& out)
{
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv)
{
    using tarvelo::test::RefWebService;
    RefWebService::Options options;
    long long clockOffset = 0;
    const char* verNumSyn = nullptr;
    const char* verNum = nullptr;
    const char* lastSendError = nullptr;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tarvelo-refweb: %s needs a value\n", arg.c_str());
            usage();
            return 2;
        }
        const char* value = argv[++i];
        long long number = 0;
        if (arg == "--port" && wholeNumber(value, number) && number >= 0 && number <= 65535)
            options.port = int(number);
        else if (arg == "--db-port" && wholeNumber(value, number) && number > 0 && number <= 65535)
            options.dbPort = QString::number(number);
        else if (arg == "--downloads")
            options.downloadsDir = QString::fromLocal8Bit(value);
        else if (arg == "--clock-offset" && wholeNumber(value, number))
            clockOffset = number;
        else if (arg == "--ver-num-syn")
            verNumSyn = value;
        else if (arg == "--ver-num")
            verNum = value;
        else if (arg == "--last-send-error")
            lastSendError = value;
        else {
            std::fprintf(stderr, "tarvelo-refweb: bad option or value: %s %s\n", arg.c_str(), value);
            usage();
            return 2;
        }
    }
    if (options.dbPort.isEmpty()) {
        std::fprintf(stderr, "tarvelo-refweb: --db-port is required\n");
        usage();
        return 2;
    }

    // Stop signals are taken by sigwait below; threads started later inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        RefWebService service(options);
        service.setClockOffset(clockOffset);
        if (verNumSyn)
            service.setVerNumSyn(QString::fromLocal8Bit(verNumSyn));
        if (verNum)
            service.setVerNum(QString::fromLocal8Bit(verNum));
        if (lastSendError)
            service.setLastSendError(QString::fromLocal8Bit(lastSendError));
        std::printf("%s\n", service.baseUrl().toUtf8().constData());
        if (!options.downloadsDir.isEmpty())
            std::printf("%s\n", service.downloadsUrl().toUtf8().constData());
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvelo-refweb: %s\n", e.what());
        return 1;
    }
    return 0;
}
