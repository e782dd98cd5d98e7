#include "app/window/main_window.h"
#include "app/window/refusal_box.h"
#include "app_world.h"
#include "support/private_mariadb.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QMessageBox>
#include <QTimer>
#include <QLabel>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelo::test {
namespace {

// A configuration file for the program over the world's databases and web service.
QString writeConfig(AppWorld& w, const QString& path, const QStringList& drop = {},
                    const QList<QPair<QString, QString>>& replace = {})
{
    const data::DbSettings server = w.serverDb.settings();
    QList<QPair<QString, QString>> kv = {
        {"DB_Server_Ser", server.host}, {"DB_User_Ser", server.user},    {"DB_Pas_Ser", server.password},
        {"DB_Name_Ser", server.name},   {"My_Branch", "01"},             {"Riv_Server", "010218"},
        {"Ip_Ser", "127.0.0.1"},        {"No_Dev", "DEV-1"},             {"Url_Web", w.web.baseUrl()},
        {"Url_Downloads", w.web.downloadsUrl()},
    };
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("# start-up values\n[Tarvelo]\n");
    for (auto [k, v] : kv) {
        if (drop.contains(k))
            continue;
        for (const auto& [rk, rv] : replace)
            if (rk == k)
                v = rv;
        f.write((k + " = " + v + "\n").toUtf8());
    }
    for (const auto& [rk, rv] : replace)
        if (std::none_of(kv.begin(), kv.end(), [&](const auto& e) { return e.first == rk; }))
            f.write((rk + " = " + rv + "\n").toUtf8());
    return path;
}

TEST(Executable, BadConfigurationStopsBeforeTheWindowNamingFileAndKey)
{
    ensureApplication();
    AppWorld w;
    const QString path = w.home.path() + "/config.ini";
    struct Case {
        QStringList drop;
        QList<QPair<QString, QString>> replace;
        QString key;
    };
    const std::vector<Case> cases = {
        {{"DB_Name_Ser"}, {}, "DB_Name_Ser"},
        {{}, {{"Riv_Server", "01021"}}, "Riv_Server"},
        {{}, {{"Url_Web", "not an address"}}, "Url_Web"},
        {{}, {{"Ip_Ser", "server.example"}}, "Ip_Ser"},
        {{}, {{"No_Dat", "x"}}, "No_Dat"},
        {{}, {{"My_Branch", "abc"}}, "My_Branch"},
        {{}, {{"DB_Server_Ser", "db;Pwd=x"}}, "DB_Server_Ser"},
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", w.home.path() + "/state");
    const auto lastReason = [&] {
        QFile log(w.home.path() + "/state/Tarvelo/tarvelo.log");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).trimmed().section(u'\n', -1) : QString();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        writeConfig(w, path, c.drop, c.replace);
        QProcess proc;
        proc.setProcessEnvironment(env);
        proc.start(TARVELO_EXE, {"--config", path});
        ASSERT_TRUE(proc.waitForFinished(10000));
        const QString err = QString::fromUtf8(proc.readAllStandardError());
        EXPECT_EQ(proc.exitCode(), 2);
        EXPECT_TRUE(err.startsWith("tarvelo: " + path)) << "Qt's notices come first: " << err.toStdString();
        EXPECT_TRUE(err.contains("key " + c.key)) << err.toStdString();
        // Started at logon nobody reads stderr: the state folder, made for it, holds the refusal.
        const QString last = lastReason();
        EXPECT_TRUE(last.contains("start refused: " + path) && last.contains("key " + c.key)) << last.toStdString();
    }
    // An empty file names every key it lacks at once; a misspelt key is named in a warning.
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("My_Brnch = 01\n");
    }
    QProcess empty;
    empty.setProcessEnvironment(env);
    empty.start(TARVELO_EXE, {"--config", path});
    ASSERT_TRUE(empty.waitForFinished(10000));
    const QString err = QString::fromUtf8(empty.readAllStandardError());
    EXPECT_EQ(empty.exitCode(), 2);
    EXPECT_TRUE(err.contains("unknown key My_Brnch")) << err.toStdString();
    for (const char* key : {"DB_Server_Ser", "DB_User_Ser", "DB_Pas_Ser", "DB_Name_Ser", "My_Branch", "Riv_Server", "Ip_Ser", "No_Dev",
                            "Url_Web", "Url_Downloads"})
        EXPECT_TRUE(err.contains(QStringLiteral("key %1 is missing").arg(key))) << key;
    EXPECT_TRUE(lastReason().contains("key DB_User_Ser is missing; key DB_Pas_Ser is missing;")) << lastReason().toStdString();
    QProcess proc;
    proc.setProcessEnvironment(env);
    proc.start(TARVELO_EXE, {"--config", w.home.path() + "/none.ini"});
    ASSERT_TRUE(proc.waitForFinished(10000));
    EXPECT_EQ(proc.exitCode(), 2);
    EXPECT_TRUE(proc.readAllStandardError().contains("none.ini"));
    EXPECT_TRUE(lastReason().endsWith("check the file " + w.home.path() + "/none.ini, which is missing"))
        << lastReason().toStdString();
}

TEST(Executable, RefusalBoxNamesTheFileAndEveryKeyInArabicAndClosesItselfWhenNobodyAnswers)
{
    ensureApplication();
    QString error, arabic;
    QTemporaryDir dir;
    const QString path = dir.path() + "/config.ini";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("My_Branch = abc\n");
    f.close();
    ASSERT_FALSE(app::loadConfig(path, error, nullptr, &arabic));
    QString shown;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            shown = box->text();
    });
    QElapsedTimer took;
    took.start();
    app::showRefusal(arabic, std::chrono::milliseconds(300));
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_FALSE(app::displayAvailable()) << "offscreen: an unattended start shows no box";
    EXPECT_TRUE(shown.startsWith(QStringLiteral("لا يعمل البرنامج بسبب ملف الاعدادات")) && shown.contains(data::leftToRight(path)))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("قيمة المفتاح My_Branch غير صحيحة")));
    for (const char* key : {"DB_Server_Ser", "DB_Pas_Ser", "Url_Downloads"})
        EXPECT_TRUE(shown.contains(QStringLiteral("المفتاح %1 غير موجود").arg(key))) << key;
}

TEST(Executable, SignalRunsTheUnloadStepsAndUsr1SavesAScreenshot)
{
    ensureApplication();
    AppWorld w;
    const QString config = writeConfig(w, w.home.path() + "/config.ini");
    w.setSetting("NameTab", "Acc");
    const QString shot = w.home.path() + "/window.png";

    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", w.base());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_RUNTIME_DIR");
    proc.setProcessEnvironment(env);
    proc.start(TARVELO_EXE, {"--config", config, "--screenshot", shot});
    ASSERT_TRUE(proc.waitForStarted(10000));

    // Loaded once it took the hand-over; running once it wrote its statistics row.
    for (int i = 0; i < 200 && w.branchDb.scalar("select count(*) from branchsyn_tab") != u"1"; ++i)
        QThread::msleep(50);
    EXPECT_EQ(w.setting("ClosSyn"), u"1");
    EXPECT_EQ(w.setting("NameTab"), u"");

    ::kill(pid_t(proc.processId()), SIGUSR1);
    for (int i = 0; i < 100 && !QFile::exists(shot); ++i)
        QThread::msleep(50);
    QThread::msleep(200);
    const QImage image(shot);
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 300);

    ::kill(pid_t(proc.processId()), SIGTERM);
    ASSERT_TRUE(proc.waitForFinished(15000));
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_EQ(w.setting("Acc_In"), u"0");
    EXPECT_EQ(w.setting("ClosSyn"), u"1");
    const QString err = QString::fromUtf8(proc.readAllStandardError());
    EXPECT_FALSE(err.contains("XDG_RUNTIME_DIR") || err.contains("propagateSizeHints")) << err.toStdString();
}

// A web service on 127.0.0.1 that takes every connection and never answers.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 16) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no listener");
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener()
    {
        for (int fd : held_)
            ::close(fd);
        ::close(fd_);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/test1/").arg(port_); }
    // Connections made so far; they are kept open and unanswered.
    int connections()
    {
        for (int c; (c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            held_.push_back(c);
        return int(held_.size());
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> held_;
};

// Starts the program over the world's settings folder. Without a runtime folder, as under su,
// its lock lives in the settings folder.
void startProgram(QProcess& proc, AppWorld& w, const QString& config, const QString& shot = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", w.base());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_RUNTIME_DIR");
    proc.setProcessEnvironment(env);
    QStringList args = {"--config", config};
    if (!shot.isEmpty())
        args << "--screenshot" << shot;
    proc.start(TARVELO_EXE, args);
    ASSERT_TRUE(proc.waitForStarted(10000));
}

bool appearsWithin(const QString& path, int ms)
{
    for (int i = 0; i < ms / 25 && !QFile::exists(path); ++i)
        QThread::msleep(25);
    return QFile::exists(path);
}

TEST(Executable, WhileTheWebServiceNeverAnswersTheWindowRunsAndAStopEndsItAtOnce)
{
    ensureApplication();
    AppWorld w;
    SilentListener silent;
    const QString config = writeConfig(w, w.home.path() + "/config.ini", {}, {{"Url_Web", silent.url()}});
    const QString shot = w.home.path() + "/window.png";
    const QString lock = w.base() + "/Tarvelo/tarvelo.lock";
    QProcess proc;
    startProgram(proc, w, config, shot);

    // The start-up's first request (the version check) waits for its answer.
    for (int i = 0; i < 400 && silent.connections() == 0; ++i)
        QThread::msleep(25);
    ASSERT_EQ(silent.connections(), 1);
    EXPECT_TRUE(QFile::exists(lock));
    ::kill(pid_t(proc.processId()), SIGUSR1);
    EXPECT_TRUE(appearsWithin(shot, 5000)) << "window events run while the request waits";

    ::kill(pid_t(proc.processId()), SIGTERM);
    ASSERT_TRUE(proc.waitForFinished(5000)) << "the stop waits for no request";
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_EQ(w.setting("ClosSyn"), u"0");
    EXPECT_EQ(w.setting("Check3"), u"1");
    EXPECT_EQ(silent.connections(), 1) << "nothing is asked after the unload";
    EXPECT_FALSE(QFile::exists(lock));
}

TEST(Executable, AStopEndsTheProgramWhileALocalDatabaseCallHangs)
{
    ensureApplication();
    AppWorld w;
    PrivateMariaDb hung;
    const data::DbSettings local = hung.settings(QStringLiteral("branch"));
    w.setVeld(QStringLiteral("SaveInServer_Databes"), local.host);
    w.setVeld(QStringLiteral("SaveInPort"), local.port);
    hung.freeze();
    w.setSetting("NameTab", "Acc");
    const QString config = writeConfig(w, w.home.path() + "/config.ini");
    QProcess proc;
    startProgram(proc, w, config);

    // The server clock came; the next step opens the local database, which never answers.
    for (int i = 0; i < 400 && w.web.requestsTo("getnow.php").isEmpty(); ++i)
        QThread::msleep(25);
    ASSERT_EQ(w.web.requestsTo("getnow.php").size(), 1);
    QThread::msleep(300);
    ::kill(pid_t(proc.processId()), SIGTERM);
    EXPECT_TRUE(proc.waitForFinished(10000)) << "the database's time-outs would hold the stop far longer";
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_EQ(w.setting("Acc_In"), u"0");
    EXPECT_EQ(w.setting("ClosSyn"), u"1");
    hung.thaw();
}

TEST(Executable, ALockFileOfAnotherUserIsRefusedWithAReason)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give this test a file of another user";
    ensureApplication();
    AppWorld w;
    const QString config = writeConfig(w, w.home.path() + "/config.ini", {},
                                       {{"Url_Web", QStringLiteral("http://127.0.0.1:%1/test1/").arg(kClosedPort)}});
    const QString lock = w.base() + "/Tarvelo/tarvelo.lock";
    QDir().mkpath(w.base() + "/Tarvelo");
    QFile f(lock);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_EQ(::chown(QFile::encodeName(lock).constData(), 65534, 65534), 0);

    QProcess proc;
    startProgram(proc, w, config);
    ASSERT_TRUE(proc.waitForFinished(10000));
    const QString err = QString::fromUtf8(proc.readAllStandardError());
    EXPECT_NE(proc.exitCode(), 0);
    EXPECT_TRUE(err.contains(lock) && err.contains("another user")) << err.toStdString();
}

TEST(Executable, ReadableLocalDatabaseSettingsAreWarnedAboutAndMadePrivate)
{
    ensureApplication();
    AppWorld w;
    const QString config = writeConfig(w, w.home.path() + "/config.ini", {},
                                       {{"Url_Web", QStringLiteral("http://127.0.0.1:%1/test1/").arg(kClosedPort)}});
    const QString veld = w.base() + "/Veld/settings.ini";
    ASSERT_TRUE(QFile::setPermissions(veld, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QProcess proc;
    startProgram(proc, w, config);
    appearsWithin(w.base() + "/Tarvelo/tarvelo.lock", 5000);
    ::kill(pid_t(proc.processId()), SIGTERM);
    ASSERT_TRUE(proc.waitForFinished(10000));
    const QString err = QString::fromUtf8(proc.readAllStandardError());
    EXPECT_TRUE(err.contains("warning: " + veld + " holds a database password")) << err.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(veld).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Window, DrawsTheModelsAndMinimisesInsteadOfHidingWithoutATray)
{
    ensureApplication();
    AppWorld w;
    app::Program& p = w.load();
    app::MainWindow window(p, false);
    EXPECT_FALSE(window.hasTrayIcon());
    EXPECT_EQ(window.layoutDirection(), Qt::RightToLeft);
    window.show();
    for (int i = 0; i < 80; ++i)
        p.logs.Add_LogMsg(QString::number(i));
    QCoreApplication::processEvents();
    auto* log = window.findChild<QTableView*>(QStringLiteral("MSFG2"));
    ASSERT_TRUE(log && log->rowAt(0) > 0);  // scrolled to the newest rows: the header row would be out of sight
    EXPECT_TRUE(log->horizontalHeader()->isVisible());
    EXPECT_EQ(log->model()->headerData(0, Qt::Horizontal).toString(), p.logs.MSFG2.textMatrix(0, 0));
    for (const char* busy : {"ImgLoa", "ImgSav"})
        EXPECT_TRUE(QFontMetrics(window.font()).inFont(window.findChild<QLabel*>(busy)->text().at(0))) << busy;

    p.MsgboxViw(1, QStringLiteral("جاري مزامنة البيانات ..."));
    bool statusShown = false;
    for (QLabel* l : window.findChildren<QLabel*>())
        statusShown |= l->text() == u"جاري مزامنة البيانات ...";
    EXPECT_TRUE(statusShown);

    p.ui.visible.set(true);
    p.Bott1_Click(2);  // hide: with no notification area the window is minimised, not lost
    EXPECT_TRUE(window.isMinimized());
    p.trayActivated();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());

    const QString shot = w.home.path() + "/w.png";
    EXPECT_TRUE(window.saveScreenshot(shot));
    EXPECT_FALSE(QImage(shot).isNull());
}

TEST(StatusLine, TooltipKeepsSixtyThreeCharactersAndTheLineTheWholeText)
{
    AppWorld w;
    app::Program& p = w.load();
    const QString text(70, u'ب');
    p.MsgboxViw(2, text);
    EXPECT_EQ(p.ui.Label3.text(6), text);
    EXPECT_EQ(p.ui.tray.tooltip(), text.left(63));
    EXPECT_EQ(p.ui.tray.picture(), 2);
}

}  // namespace
}  // namespace tarvelo::test
