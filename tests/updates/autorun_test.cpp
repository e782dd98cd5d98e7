#include "app/autorun.h"
#include "update_world.h"

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

// A temporary XDG_CONFIG_HOME for the whole test.
class AutoRunEntry : public ::testing::Test {
protected:
    QTemporaryDir config;
    QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    QStringList boxes;
    app::AutoRun autoRun{[this](const QString& text) { boxes << text; }};
    QString entry;

    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        entry = config.filePath("autostart/tarvelo.desktop");
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", savedXdg); }
};

TEST_F(AutoRunEntry, TickWritesUntickRemovesAndLoadReadsWithoutRewriting)
{
    EXPECT_FALSE(autoRun.Get_AutoRun("tarvelo"));
    autoRun.Check4_Click("tarvelo", "/opt/tarvelo", true);
    EXPECT_EQ(QString::fromUtf8(readFile(entry)),
              "[Desktop Entry]\nType=Application\nName=Tarvelo\nExec=\"/opt/tarvelo/tarvelo\"\nTerminal=false\n");
    EXPECT_TRUE(autoRun.Get_AutoRun("tarvelo"));

    // An entry another copy wrote shows as ticked and is left as it is.
    writeFile(entry, "[Desktop Entry]\nType=Application\nName=Tarvelo\nExec=\"/elsewhere/tarvelo\"\n");
    bool ticked = false;
    autoRun.Show_AutoRun("tarvelo", [&](bool on) {
        ticked = on;
        autoRun.Check4_Click("tarvelo", "/opt/tarvelo", on);  // setting the box runs its click
    });
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(readFile(entry).contains("/elsewhere/tarvelo"));

    autoRun.Check4_Click("tarvelo", "/opt/tarvelo", false);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(autoRun.Get_AutoRun("tarvelo"));
    autoRun.Check4_Click("tarvelo", "/opt/tarvelo", false);  // removing what is not there is no error

    autoRun.Check4_Click("tarvelo", "/", true);
    EXPECT_TRUE(readFile(entry).contains("Exec=\"/tarvelo\"\n")) << "a program in the root folder gets one slash";
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(AutoRunEntry, HiddenEntryReadsAsOff)
{
    writeFile(entry, "[Desktop Entry]\nType=Application\nExec=tarvelo\nHidden = true\n");
    EXPECT_FALSE(autoRun.Get_AutoRun("tarvelo"));
    writeFile(entry, "[Desktop Entry]\nType=Application\nExec=tarvelo\nHidden=false\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(autoRun.Get_AutoRun("tarvelo"));
}

TEST_F(AutoRunEntry, ExecQuotesReservedCharactersOfThePath)
{
    autoRun.Set_AutoRun("tarvelo", "/home/a b/$x`\"y\\z/100%", true);
    EXPECT_TRUE(readFile(entry).contains("Exec=\"/home/a b/\\\\$x\\\\`\\\\\"y\\\\\\\\z/100%%/tarvelo\"\n"))
        << readFile(entry).toStdString();
}

TEST_F(AutoRunEntry, FailedWritesShowTheSystemError)
{
    writeFile(config.filePath("autostart"), "a file where the folder should be");
    autoRun.Set_AutoRun("tarvelo", "/opt/tarvelo", true);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], QStringLiteral("Error %1 opening key\n%2").arg(ENOTDIR).arg(QString::fromLocal8Bit(strerror(ENOTDIR))));

    QFile::remove(config.filePath("autostart"));
    QDir().mkpath(entry);  // a folder in the entry's place
    autoRun.Set_AutoRun("tarvelo", "/opt/tarvelo", true);
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[1], QStringLiteral("Error %1 setting key\n%2").arg(EISDIR).arg(QString::fromLocal8Bit(strerror(EISDIR))));
}

}  // namespace
