#include "update_world.h"

#include <sys/stat.h>

using namespace tarvelo;
using namespace tarvelo::test;
using DownloadFault = RefWebService::DownloadFault;

namespace {

class Download : public UpdateWorld {
protected:
    QByteArray updater;

    // An update of kind 3, so the file comes from the version's sub-folder.
    void offerUpdate(int size = 2048)
    {
        updater = stubUpdater("Update4.exe", size);
        writeFile(downloadsDir.filePath("010219/Update4.exe"), updater);
        web.setVerNum("0102193");
    }

    int veldMode() const
    {
        struct stat st {};
        if (::stat(QFile::encodeName(settings.filePath("Veld")).constData(), &st) != 0)
            return -1;
        return int(st.st_mode & 0777);
    }

    // Nothing of the failed update is left and the program runs on.
    void expectNothingStarted(const std::string& what)
    {
        EXPECT_FALSE(QFile::exists(inProgram("Update4.exe"))) << what << ": the partial file is deleted";
        EXPECT_FALSE(form.isVisible()) << what;
        EXPECT_FALSE(events.contains("end")) << what;
        QThread::msleep(100);
        EXPECT_FALSE(QFile::exists(inProgram("Update4.exe.started"))) << what;
    }
};

TEST_F(Download, HandsOverDownloadsWithProgressAndStartsTheUpdater)
{
    offerUpdate(2048);
    writeFile(inProgram("Update4.exe"), "stale updater of an earlier run");
    writeFile(settings.filePath("Veld"), "[Settings]\nSaveInFont1=Arial\n", QFile::ReadOwner | QFile::WriteOwner
                                                                             | QFile::ReadGroup | QFile::ReadOther);
    ASSERT_TRUE(updates->Check_UpDate());

    EXPECT_TRUE(updates->cmdDownload_Click("Update4.exe", 1));

    EXPECT_EQ(settings.written, QStringList({
                                    "Veld/SaveInName_Databes_Tim=branch_db",
                                    "Veld/SaveInUser_Databes_Tim=clerk",
                                    "Veld/SaveInPas_Databes_Tim=s3cret;pw",
                                    "Veld/SaveInPort_Tim=3307",
                                    "Veld/SaveInServer_Databes_Tim=db.local",
                                    "Veld/SaveInNoBran_Tim=7",
                                    "Veld/NoRevOld_Tim=010218",
                                    "Veld/NoRevision_Tim=010219",
                                    "Veld/Pro_Tim=Tarvelo",
                                    "Veld/NoPicFull_Tim=DEV 9",
                                    "Veld/Run_Tim=0",
                                }));
    EXPECT_EQ(settings.read("Veld", "Settings", "SaveInPas_Databes_Tim"), "s3cret;pw");
    EXPECT_EQ(settings.read("Veld", "Settings", "SaveInFont1"), "Arial") << "other values stay";
    EXPECT_EQ(veldMode(), 0600) << "the hand-over holds the database password";

    EXPECT_EQ(web.downloadRanges(), QStringList({"bytes=0-"}));
    EXPECT_EQ(web.requestsTo("downloads/010219/Update4.exe").size(), 1);
    EXPECT_EQ(captions, QStringList({"50 %", "100 %"}));
    EXPECT_EQ(form.label1Left(), app::DownloadWindowModel::Width);
    EXPECT_EQ(form.label2Left(), app::DownloadWindowModel::Width - form.label2Width());
    EXPECT_TRUE(form.isVisible()) << "the window stays until the program ends";

    EXPECT_EQ(readFile(inProgram("Update4.exe")), updater);
    EXPECT_TRUE(QFileInfo(inProgram("Update4.exe")).isExecutable());
    EXPECT_TRUE(appears(inProgram("Update4.exe.started")));
    EXPECT_EQ(events, QStringList({"end"}));
}

TEST_F(Download, HalfwayProgressMovesTheBarToHalfTheWidth)
{
    offerUpdate(2048);
    QList<int> lefts;
    QObject::connect(&form, &DownloadWindowModel::progressed, [&] { lefts << form.label1Left(); });
    ASSERT_TRUE(updates->Check_UpDate());
    ASSERT_TRUE(updates->cmdDownload_Click("Update4.exe", 1));
    EXPECT_EQ(lefts, QList<int>({3485, 6970}));
}

TEST_F(Download, OneByteChunkMidStreamIsReadOnToTheEnd)
{
    offerUpdate(2048);
    web.failNextDownload("010219/Update4.exe", DownloadFault::paced({1000, 1, 24}));
    ASSERT_TRUE(updates->Check_UpDate());

    EXPECT_TRUE(updates->cmdDownload_Click("Update4.exe", 1));

    EXPECT_EQ(readFile(inProgram("Update4.exe")), updater);
    EXPECT_EQ(captions.last(), "100 %");
    EXPECT_GE(captions.size(), 4) << "each piece shows its progress: " << captions.join(", ").toStdString();
    EXPECT_TRUE(appears(inProgram("Update4.exe.started")));
    EXPECT_EQ(events, QStringList({"end"}));
}

// A broken download in the cycle tick: no updater runs, the failure is logged once and the cycle
// runs; the next ticks of the hour run their cycles without downloading again.
TEST_F(Download, BrokenDownloadIsLoggedOnceAndSynchronisationGoesOnUntilAnHourLater)
{
    offerUpdate(3000);
    const std::vector<std::pair<std::string, DownloadFault>> faults = {
        {"short body", DownloadFault::shortBody()},
        {"chunked without Content-Length", DownloadFault::chunked()},
        {"dropped mid-body", DownloadFault::droppedMidBody()},
        {"404 page", DownloadFault::notFoundPage()},
    };
    for (const auto& [what, fault] : faults) {
        web.failNextDownload("010219/Update4.exe", fault);
        messages.clear();
        EXPECT_FALSE(updates->cycleTickUpdates()) << what << ": the cycle runs";
        EXPECT_FALSE(updates->cycleTickUpdates()) << what << ": and the next one, without a download";
        clock = clock.addSecs(59 * 60);
        EXPECT_FALSE(updates->cycleTickUpdates()) << what;
        EXPECT_TRUE(events.isEmpty()) << what;
        ASSERT_EQ(messages.size(), 1) << what;
        EXPECT_TRUE(messages[0].contains("Update4.exe")) << what << ": " << messages[0].toStdString();
        expectNothingStarted(what);
        clock = clock.addSecs(60);
    }
    EXPECT_EQ(web.requestsTo("downloads/010219/Update4.exe").size(), 4);

    QFile::remove(downloadsDir.filePath("010219/Update4.exe"));
    EXPECT_FALSE(updates->cycleTickUpdates());
    expectNothingStarted("missing file");
    EXPECT_TRUE(errorLogText().contains("HTTP status 404"));
}

TEST_F(Download, UpdaterThatCannotBeReplacedOrStartedIsNotRun)
{
    offerUpdate(2048);
    ASSERT_TRUE(updates->Check_UpDate());
    QDir().mkpath(inProgram("Update4.exe/keep"));
    EXPECT_FALSE(updates->cmdDownload_Click("Update4.exe", 1));
    EXPECT_TRUE(QFileInfo(inProgram("Update4.exe/keep")).isDir()) << "a folder of that name is left alone";
    EXPECT_EQ(web.requestsTo("downloads/010219/Update4.exe").size(), 0);
    QDir(inProgram("Update4.exe")).removeRecursively();

    writeFile(downloadsDir.filePath("010219/Update4.exe"), "not a program\n");
    EXPECT_FALSE(updates->cmdDownload_Click("Update4.exe", 1));
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(events.isEmpty()) << events.join(", ").toStdString();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].contains("could not be started")) << messages[1].toStdString();
}

}  // namespace
