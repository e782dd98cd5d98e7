// tarvelo: the branch synchronisation client.
#include "app/core/config.h"
#include "app/core/host.h"
#include "app/core/program.h"
#include "app/download_window.h"
#include "app/window/main_window.h"
#include "app/window/refusal_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr std::chrono::seconds StopGrace{3};
// How long a refusal's message box waits for someone to close it: a start at logon must end.
constexpr std::chrono::seconds RefusalWait{60};

void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: tarvelo [--config FILE] [--screenshot FILE] [--version]\n"
                 "  --config FILE      start-up configuration (default ${XDG_CONFIG_HOME:-~/.config}/Tarvelo/config.ini)\n"
                 "  --screenshot FILE  on SIGUSR1, save an image of the main window to FILE\n"
                 "  --version          print the version and end\n"
                 "SIGTERM, SIGINT and SIGHUP close the program as closing its window does.\n");
}

void warn(const QString& text)
{
    if (!text.isEmpty())
        std::fprintf(stderr, "tarvelo: warning: %s\n", text.toUtf8().constData());
}

// The handlers go in before the shared libraries' initialisers run, the earliest a program can:
// until then a stop signal or SIGUSR1 would end the process by default.
void installSignalsFirst(int, char**, char**)
{
    tarvelo::app::StopSignals::install();
}
[[gnu::section(".preinit_array"), gnu::used]] void (*const signalsFirst)(int, char**, char**) = installSignalsFirst;

// What the command line asks for; `exitCode` set when it is answered without a start.
struct Arguments {
    QString configPath, screenshotPath;
    std::optional<int> exitCode;
};

Arguments parseArguments(int argc, char** argv)
{
    using namespace tarvelo::app;
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--help" || arg == u"-h") {
            usage(stdout);
            a.exitCode = 0;
            return a;
        }
        if (arg == u"--version") {
            std::printf("tarvelo %s\n", versionCaption(kVersion).toUtf8().constData());
            a.exitCode = 0;
            return a;
        }
        if ((arg == u"--config" || arg == u"--screenshot") && i + 1 < argc) {
            (arg == u"--config" ? a.configPath : a.screenshotPath) = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        std::fprintf(stderr, "tarvelo: unknown option or missing value: %s\n", argv[i]);
        usage(stderr);
        a.exitCode = 2;
        return a;
    }
    if (a.configPath.isEmpty())
        a.configPath = defaultConfigPath();
    return a;
}

// Notices of Qt's platform layer that say nothing about this program and would come before its
// own lines: the runtime folder it defaults, and size hints the offscreen platform ignores.
QtMessageHandler qtMessages = nullptr;
void withoutPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type < QtCriticalMsg
        && (text.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set") || text.contains(u"propagateSizeHints")))
        return;
    qtMessages(type, context, text);
}

// A start refused: said on stderr (by the caller), in the reason log, and, where a display is
// there, in a message box that closes itself when nobody answers it.
int refuseStart(int argc, char** argv, const QString& why, const QString& check, const QString& arabic, int status)
{
    tarvelo::data::ReasonLog log(tarvelo::data::stateFolder());
    log.setEcho(false);
    // The log's line keeps the problems apart that stderr gives one a line.
    QStringList lines = why.split(u'\n', Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.trimmed();
    const QString first = lines.takeFirst();
    log.write(QStringLiteral("start refused"), lines.isEmpty() ? first : first + u' ' + lines.join(QStringLiteral("; ")),
              check);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.contains("offscreen") || platform.contains("minimal")
        || (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return status;
    // A display that cannot be reached falls back to offscreen instead of aborting the exit status.
    const QByteArray chosen = !platform.isEmpty()                             ? platform
                              : qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? QByteArray("xcb")
                                                                               : QByteArray("wayland;xcb");
    qputenv("QT_QPA_PLATFORM", chosen + ";offscreen");
    QApplication qapp(argc, argv);
    if (tarvelo::app::displayAvailable())
        tarvelo::app::showRefusal(arabic + QStringLiteral("\n\nالتفاصيل في ") + tarvelo::data::leftToRight(log.path()), RefusalWait);
    return status;
}

// What a refused configuration asks the user to check: a missing or unreadable file has no keys.
QString configToCheck(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return "the file " + path + ", which is missing";
    if (!file.isReadable())
        return "the permissions of " + path + ", which cannot be read";
    return "the keys named, in " + path;
}

// Everything must be in place before the window: a bad configuration stops here.
std::optional<tarvelo::app::ProgramConfig> readConfiguration(const QString& path, QString& error, QString& arabic)
{
    using namespace tarvelo::app;
    QStringList configWarnings;
    std::optional<ProgramConfig> config = loadConfig(path, error, &configWarnings, &arabic);
    for (const QString& w : configWarnings)
        warn(w);
    if (!config) {
        std::fprintf(stderr, "tarvelo: %s\n", error.toUtf8().constData());
        return std::nullopt;
    }
    warn(keepPasswordFilePrivate(path, false));
    return config;
}

void setUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("Tarvelo"));
    QApplication::setLayoutDirection(Qt::RightToLeft);
    QApplication::setQuitOnLastWindowClosed(false);
}

// The program's hooks into the process: the event pump, the message box, the two ways to end.
tarvelo::app::ProgramOptions programOptions(tarvelo::app::ProgramConfig config, QPointer<QWidget>& dialogParent,
                                            tarvelo::app::InstanceLock*& heldLock)
{
    using namespace tarvelo::app;
    ProgramOptions options;
    options.config = std::move(config);
    options.programFolder = QCoreApplication::applicationDirPath();
    options.stateFolder = tarvelo::data::stateFolder();
    options.messageBox = [&dialogParent](const QString& text) { QMessageBox::critical(dialogParent, QString(), text); };
    options.pump = [] { QCoreApplication::processEvents(); };
    options.endAtOnce = [&heldLock] {
        if (heldLock)
            heldLock->release();
        std::fflush(nullptr);
        ::_exit(0);
    };
    options.quit = [] { QCoreApplication::exit(0); };
    return options;
}

// The cycle timer and the retry timer follow their switches in the program's model.
void connectTimers(tarvelo::app::Program& program, QTimer& timer1, QTimer& timer4)
{
    using namespace tarvelo::app;
    for (auto [timer, model, tick] : {std::tuple{&timer1, &program.ui.Timer1, &Program::Timer1_Timer},
                                      std::tuple{&timer4, &program.ui.Timer4, &Program::Timer4_Timer}}) {
        timer->setInterval(1000);
        QObject::connect(timer, &QTimer::timeout, &program, [&program, tick = tick] { (program.*tick)(); });
        QObject::connect(model, &SwitchModel::changed, timer, [timer](bool on) {
            if (on)
                timer->start();
            else
                timer->stop();
        });
    }
}

// A stop signal unloads the window; SIGUSR1 saves a screenshot where --screenshot says.
void connectSignals(tarvelo::app::StopSignals& stopSignals, tarvelo::app::Program& program,
                    tarvelo::app::MainWindow& window, const QString& screenshotPath)
{
    using namespace tarvelo::app;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &program, [&program] { program.Form_Unload(); });
    QObject::connect(&stopSignals, &StopSignals::screenshotRequested, &window, [&window, screenshotPath] {
        if (screenshotPath.isEmpty())
            return;
        if (window.saveScreenshot(screenshotPath))
            std::printf("tarvelo: screenshot saved to %s\n", screenshotPath.toUtf8().constData());
        else
            std::fprintf(stderr, "tarvelo: cannot save a screenshot to %s\n", screenshotPath.toUtf8().constData());
        std::fflush(stdout);
    });
}

// The load, then the event loop; an end at once inside either is a normal end.
int loadAndRun(QApplication& qapp, tarvelo::app::Program& program)
{
    using namespace tarvelo::app;
    try {
        if (!program.Form1_Form_Load())
            return 0;
    } catch (const ProgramEnded&) {
        return 0;
    }
    if (program.app.ended)  // closed while loading, before the event loop ran
        return 0;
    try {
        return qapp.exec();
    } catch (const ProgramEnded&) {
        return 0;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace tarvelo::app;
    // Already done where the platform runs it first; a signal that comes early waits in the
    // handlers' pipe until the window's events run.
    StopSignals::install();
    const Arguments args = parseArguments(argc, argv);
    if (args.exitCode)
        return *args.exitCode;
    qtMessages = qInstallMessageHandler(withoutPlatformNotices);
    QString error, arabic;
    std::optional<ProgramConfig> config = readConfiguration(args.configPath, error, arabic);
    if (!config)
        return refuseStart(argc, argv, error, configToCheck(args.configPath), arabic, 2);

    QApplication qapp(argc, argv);
    setUpApplication();
    StopSignals stopSignals;
    QPointer<QWidget> dialogParent;
    InstanceLock* heldLock = nullptr;
    Program program(programOptions(std::move(*config), dialogParent, heldLock));
    // The local database's password lives in the Veld settings.
    warn(keepPasswordFilePrivate(program.settings.files().filePath(QStringLiteral("Veld")), true));
    if (!program.lock.acquire() && !program.lock.refusal().isEmpty()) {
        std::fprintf(stderr, "tarvelo: %s\n", program.lock.refusal().toUtf8().constData());
        tarvelo::data::ReasonLog log(program.options.stateFolder);
        log.setEcho(false);
        log.write(QStringLiteral("start refused"), program.lock.refusal(), QStringLiteral("the lock file's owner"));
        return 3;
    }
    heldLock = &program.lock;
    // A stop signal ends the program within StopGrace even while a database call against a hung
    // server holds the UI thread: the unload's settings writes are then done from here.
    StopWatchdog watchdog(StopGrace, [&program] {
        program.overdueStop();
        program.lock.release();
        std::fflush(nullptr);
        ::_exit(0);
    });

    MainWindow window(program, QSystemTrayIcon::isSystemTrayAvailable());
    dialogParent = &window;
    DownloadWindow form2(program.Form2);
    QTimer timer1, timer4;
    connectTimers(program, timer1, timer4);
    connectSignals(stopSignals, program, window, args.screenshotPath);
    return loadAndRun(qapp, program);
}
