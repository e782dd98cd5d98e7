#include "update_world.h"

#include <sys/resource.h>

using namespace tarvelo;
using namespace tarvelo::test;
using Fault = RefWebService::Fault;

namespace {

using SelfUpdate = UpdateWorld;

TEST_F(SelfUpdate, HigherVersionStartsTheUpdaterThenStopsAndEnds)
{
    writeFile(inProgram("UpDateSyn.exe"), stubUpdater("UpDateSyn.exe"), kExecutable);
    web.setVerNumSyn("010119");

    updates->Check_UpDateSyn();

    EXPECT_TRUE(appears(inProgram("UpDateSyn.exe.started")));
    EXPECT_EQ(events, QStringList({"stop", "end"}));
    EXPECT_EQ(updates->Ver_Server, "010119");
    EXPECT_EQ(web.requestsTo("VerNumSyn.php"), QStringList({"/test1/VerNumSyn.php"}));
}

TEST_F(SelfUpdate, EqualOlderMalformedOrFailedRepliesChangeNothing)
{
    writeFile(inProgram("UpDateSyn.exe"), stubUpdater("UpDateSyn.exe"), kExecutable);
    for (const char* reply : {"010118", "010117", "01011", "0101190", "No input file specified.", "abcdef", "01a119",
                              " 10119", "010119\n", ""}) {
        web.setVerNumSyn(reply);
        updates->Check_UpDateSyn();
    }
    web.setVerNumSyn("010119");
    web.failNext("VerNumSyn.php", 1, Fault::httpError(500, "010119"));
    updates->Check_UpDateSyn();
    run.config.Url_Web = QStringLiteral("http://127.0.0.1:%1/test1/").arg(kClosedPort);
    updates->Check_UpDateSyn();

    // A program that does not know its own version takes no offer.
    run.config.Url_Web = web.baseUrl();
    app::UpdateHost host;
    host.stopSynchronisation = [this] { events << "stop"; };
    host.endProgram = [this] { events << "end"; };
    app::UpdateOptions unversioned;
    unversioned.programFolder = programDir.path();
    app::Updates(run, settings, errorLog, form, host, unversioned).Check_UpDateSyn();

    EXPECT_TRUE(events.isEmpty()) << events.join(", ").toStdString();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(updates->Ver_Server, "010117") << "only six-digit replies are kept";
    QThread::msleep(200);
    EXPECT_FALSE(QFile::exists(inProgram("UpDateSyn.exe.started")));
}

TEST_F(SelfUpdate, UpdaterThatCannotStartIsLoggedAndSynchronisationGoesOn)
{
    web.setVerNumSyn("010119");
    updates->Check_UpDateSyn();  // missing
    writeFile(inProgram("UpDateSyn.exe"), stubUpdater("UpDateSyn.exe"), QFile::ReadOwner | QFile::WriteOwner);
    updates->Check_UpDateSyn();  // not executable

    EXPECT_TRUE(events.isEmpty()) << "neither stopped nor ended: " << events.join(", ").toStdString();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("UpDateSyn.exe") && messages[0].contains("does not exist"));
    EXPECT_TRUE(messages[1].contains("not an executable file"));
    EXPECT_TRUE(errorLogText().contains("UpDateSyn.exe"));
}

// The process's peak resident memory in MiB.
long peakMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST_F(SelfUpdate, VersionRepliesOfAnySizeAreReadNoFurtherThanAScriptAnswer)
{
    const qint64 huge = qint64(384) << 20;
    web.failNext("VerNumSyn.php", 1, Fault::streamed(huge));
    web.failNext("VerNum.php", 1, Fault::streamed(huge));
    const long before = peakMiB();
    updates->Check_UpDateSyn();
    EXPECT_FALSE(updates->Check_UpDate());
    EXPECT_LT(peakMiB() - before, 64) << "a reply is held whole only up to the script answers' bound";
    EXPECT_TRUE(events.isEmpty());
}

using ApplicationCheck = UpdateWorld;

TEST_F(ApplicationCheck, NewerVersionOfKindThreeAnswersTrueWithItsDownloadFolder)
{
    web.setVerNum("0102193");
    EXPECT_TRUE(updates->Check_UpDate());
    EXPECT_EQ(updates->Ver_Server, "010219");
    EXPECT_EQ(updates->Ver_Path, "010219/");
    EXPECT_EQ(web.requestsTo("VerNum.php"), QStringList({"/test1/VerNum.php?NoDev=DEV%209&Kin=2"}));

    web.setVerNum("0102192");
    EXPECT_TRUE(updates->Check_UpDate());
    EXPECT_EQ(updates->Ver_Path, "") << "other kinds fetch from the downloads folder itself";
}

TEST_F(ApplicationCheck, SameVersionOrMalformedReplyAnswersFalse)
{
    web.setVerNum("0102193");
    ASSERT_TRUE(updates->Check_UpDate());
    web.setVerNum("0102182");
    EXPECT_FALSE(updates->Check_UpDate());
    EXPECT_EQ(updates->Ver_Server, "010218");
    EXPECT_EQ(updates->Ver_Path, "");

    for (const char* reply : {"010219", "01021933", "010219x", "01a2193", "No input", ""}) {
        web.setVerNum(reply);
        EXPECT_FALSE(updates->Check_UpDate()) << reply;
    }
    web.setVerNum("0102193");
    web.failNext("VerNum.php", 1, Fault::httpError(404, "0102193"));
    EXPECT_FALSE(updates->Check_UpDate());
    EXPECT_EQ(updates->Ver_Server, "010218") << "a rejected reply leaves the last version";
    EXPECT_TRUE(events.isEmpty());
}

}  // namespace
