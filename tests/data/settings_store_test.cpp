#include "data/settings_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A file as an install script or a text editor on another system writes it: a byte order mark,
// CR LF line ends, comments, values no INI parser may touch.
const QByteArray kHandWritten =
    "\xEF\xBB\xBF[Settings]\r\n"
    "; written by the installer\r\n"
    "SaveInServer_Databes=10.0.0.5\r\n"
    "SaveInPas_Databes=Pw;1&2@3=4\r\n"
    "SaveInUser_Databes=ab,cd\r\n"
    "SaveInName_Databes=\"shop\"\r\n"
    "# SaveInPort=1\r\n"
    "SaveInPort=  33 06 \r\n"
    "Hash=x#y ;z\r\n"
    "Empty=\r\n"
    "\r\n"
    "[Other]\r\n"
    "saveinport=9\r\n"
    "Arabic=\xd9\x81\xd8\xb1\xd8\xb9 \xd8\xa7\xd9\x84\xd8\xb1\xd9\x8a\xd8\xa7\xd8\xb6\r\n";

TEST(SettingsStore, HandWrittenValuesReadBackExactly)
{
    QTemporaryDir dir;
    data::IniSettingsStore store(dir.path());
    put(dir.path() + "/Veld/settings.ini", kHandWritten);

    const auto read = [&](const char* section, const char* key) { return store.read("Veld", section, key); };
    EXPECT_EQ(read("Settings", "SaveInServer_Databes"), "10.0.0.5");
    EXPECT_EQ(read("Settings", "SaveInPas_Databes"), "Pw;1&2@3=4");
    EXPECT_EQ(read("Settings", "SaveInUser_Databes"), "ab,cd");
    EXPECT_EQ(read("Settings", "SaveInName_Databes"), "\"shop\"");
    EXPECT_EQ(read("Settings", "SaveInPort"), "  33 06 ");
    EXPECT_EQ(read("Settings", "Hash"), "x#y ;z");
    EXPECT_EQ(read("Settings", "Empty"), "");
    EXPECT_EQ(read("Other", "Arabic"), QString::fromUtf8("فرع الرياض"));
    // Keys and sections are case-sensitive; each section holds its own keys.
    EXPECT_EQ(read("Other", "saveinport"), "9");
    EXPECT_EQ(read("Other", "SaveInPort"), "");
    EXPECT_EQ(read("settings", "SaveInPas_Databes"), "");
    EXPECT_EQ(read("Missing", "SaveInPort"), "");
    EXPECT_EQ(store.read("Absent", "Settings", "SaveInPort"), "");
}

TEST(SettingsStore, WritesReplaceTheFileKeepingEveryOtherLine)
{
    QTemporaryDir dir;
    data::IniSettingsStore store(dir.path());
    const QString path = dir.path() + "/Veld/settings.ini";
    put(path, kHandWritten);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);

    EXPECT_TRUE(store.write("Veld", "Settings", "SaveInPas_Databes", "new;pw,\"x\"=#1 "));
    EXPECT_TRUE(store.write("Veld", "Settings", "Added", QString::fromUtf8(" جديد ")));
    EXPECT_TRUE(store.write("Veld", "Third", "K", "v"));
    // A line break would end the value and start another key: refused, nothing written.
    EXPECT_FALSE(store.write("Veld", "Settings", "SaveInServer_Databes", "x\n[Other]\nsaveinport=1"));
    EXPECT_FALSE(store.write("Veld", "Settings", "a=b", "x"));

    QByteArray expected = kHandWritten;
    expected.replace("SaveInPas_Databes=Pw;1&2@3=4", "SaveInPas_Databes=new;pw,\"x\"=#1 ");
    expected.replace("Empty=\r\n", "Empty=\r\nAdded= \xd8\xac\xd8\xaf\xd9\x8a\xd8\xaf \r\n");
    expected += "\r\n[Third]\r\nK=v\r\n";
    EXPECT_EQ(contents(path), expected);
    EXPECT_EQ(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup)
        << "an existing file keeps its mode";
    EXPECT_EQ(QDir(dir.path() + "/Veld").entryList(QDir::Files | QDir::Hidden), QStringList{"settings.ini"});
    EXPECT_EQ(store.read("Veld", "Settings", "SaveInPas_Databes"), "new;pw,\"x\"=#1 ");
    EXPECT_EQ(store.read("Veld", "Settings", "Added"), QString::fromUtf8(" جديد "));

    // A new file: owner only, and what a plain text tool finds is the value itself.
    data::IniSettingsStore fresh(dir.path() + "/home");
    ASSERT_TRUE(fresh.write("Tarvelo", "Settings", "ClosSyn", "Pw;1&2@3=4 \"a,b\""));
    const QString freshPath = fresh.filePath("Tarvelo");
    EXPECT_EQ(freshPath, dir.path() + "/home/Tarvelo/settings.ini");
    EXPECT_EQ(QFile::permissions(freshPath) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QProcess grep;
    grep.start("grep", {"^ClosSyn=", freshPath});
    ASSERT_TRUE(grep.waitForFinished());
    EXPECT_EQ(grep.readAllStandardOutput(), "ClosSyn=Pw;1&2@3=4 \"a,b\"\n");
    EXPECT_EQ(contents(freshPath), "[Settings]\nClosSyn=Pw;1&2@3=4 \"a,b\"\n");
}

}  // namespace
