// The zip component against archives read and written by Python's zipfile.

#include "backup/ZZip.h"

#include "helpers/TestFiles.h"
#include "helpers/ZipFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

QString Q(const std::string& Text)
{
    return QString::fromStdString(Text);
}

// Bytes of an end record with the given disk numbers and comment length.
std::string EndRecord(uint16_t ThisDisk, uint16_t CentralDisk, uint16_t CommentLength)
{
    std::string R = {'P', 'K', 5, 6};
    const auto Word = [&R](uint16_t V) {
        R += char(V & 0xff);
        R += char(V >> 8);
    };
    Word(ThisDisk);
    Word(CentralDisk);
    R.append(12, '\0');
    Word(CommentLength);
    return R;
}

TEST(ZipComponent, OpeningAMissingNameCreatesAnEmptyArchive)
{
    testkit::TempDir Dir;
    TZip Zip;
    Zip.SetZipFileName(Q(Dir.file("new.zip")));
    EXPECT_EQ(fs::file_size(Dir.file("new.zip")), 22u);
    EXPECT_EQ(Zip.Count(), 0);
    EXPECT_EQ(Zip.EndRecordOffset(), 0);
    EXPECT_FALSE(Zip.MultiDisk());
    EXPECT_TRUE(testkit::readZip(Dir.file("new.zip")).empty());
    fs::create_directory(Dir.file("out"));
    Zip.FSpecArgs = {"*"};
    Zip.ExtrBaseDir = Q(Dir.file("out"));
    EXPECT_EQ(Zip.Extract(), 0);
    EXPECT_TRUE(fs::is_empty(Dir.file("out")));
}

TEST(ZipComponent, AddStoresRelativeNamesAtLevelNine)
{
    testkit::TempDir Dir;
    fs::create_directories(Dir.file("root/Log/2018/March"));
    fs::create_directories(Dir.file("root/Ini"));
    const std::string Log(20000, 'x');
    testkit::writeText(Dir.file("root/Log/2018/March/03-03-18.log"), Log);
    testkit::writeText(Dir.file("root/Ini/Ondrix.ini"), "[Ondrix]\r\nLogCount_Value=30\r\n");
    testkit::writeText(Dir.file("root/Ini/empty.ini"), "");

    TZip Zip;
    QStringList Messages;
    Zip.OnMessage = [&Messages](const QString& Text) { Messages << Text; };
    Zip.SetZipFileName(Q(Dir.file("a.zip")));
    Zip.AddOptions = 8;
    Zip.RootDir = Q(Dir.file("root"));
    Zip.FSpecArgs = {"Ini/Ondrix.ini", "Ini/empty.ini", "Log/2018/March/03-03-18.log"};
    EXPECT_EQ(Zip.Add(), 3);
    EXPECT_TRUE(Zip.FSpecArgs.isEmpty());
    EXPECT_TRUE(Zip.RootDir.isEmpty());
    EXPECT_TRUE(Messages.isEmpty());

    // The directory shows the names with "\", as read from the central directory.
    ASSERT_EQ(Zip.Count(), 3);
    QStringList Names;
    for (const TFileInfo& Info : Zip.Directory())
        Names << Info.FileName;
    EXPECT_TRUE(Names.contains("Log\\2018\\March\\03-03-18.log")) << Names.join(',').toStdString();

    const auto Entries = testkit::readZip(Dir.file("a.zip"));
    ASSERT_EQ(Entries.size(), 3u);
    for (const auto& Entry : Entries) {
        EXPECT_EQ(Entry.method, 8) << Entry.name;
        // Bits 1 and 2 of a deflated entry: 01 is "maximum compression" (level 9).
        EXPECT_EQ(Entry.flagBits & 6, 2) << Entry.name;
        EXPECT_FALSE(Entry.symlink);
    }
    EXPECT_EQ(Entries[0].name, "Ini/Ondrix.ini");
    EXPECT_EQ(Entries[0].content, "[Ondrix]\r\nLogCount_Value=30\r\n");
    EXPECT_EQ(Entries[1].content, "");
    EXPECT_EQ(Entries[2].name, "Log/2018/March/03-03-18.log");
    EXPECT_EQ(Entries[2].content, Log);
}

TEST(ZipComponent, RefusalsAreShownAndAddNothing)
{
    testkit::TempDir Dir;
    TZip Zip;
    QStringList Messages;
    Zip.OnMessage = [&Messages](const QString& Text) { Messages << Text; };
    Zip.FSpecArgs = {"x"};
    EXPECT_EQ(Zip.Add(), 0);
    Zip.SetZipFileName(Q(Dir.file("a.zip")));
    EXPECT_EQ(Zip.Add(), 0);
    ASSERT_EQ(Messages.size(), 2);
    EXPECT_EQ(Messages[0], TZip::NotOpenText);
    EXPECT_EQ(Messages[1], "No files have been selected.");
    EXPECT_EQ(fs::file_size(Dir.file("a.zip")), 22u);
}

TEST(ZipComponent, FindsTheEndRecordBehindALongCommentOnly)
{
    testkit::TempDir Dir;
    struct Case {
        std::string Bytes;
        bool Valid;
    };
    const Case Cases[] = {
        {EndRecord(0, 0, 65513) + std::string(65513, 'c'), true},
        {std::string(100, 'z') + EndRecord(0, 0, 3) + "abc", true},
        {EndRecord(0, 0, 0) + std::string(65535, 'c'), false},   // beyond the scanned tail
        {"not a zip at all, just text", false},
        {"PK", false},
    };
    for (const Case& C : Cases) {
        const std::string Name = Dir.file("c.zip");
        testkit::writeText(Name, C.Bytes);
        TZip Zip;
        if (C.Valid) {
            EXPECT_NO_THROW(Zip.SetZipFileName(Q(Name))) << C.Bytes.size();
            EXPECT_EQ(Zip.Count(), 0);
        } else {
            try {
                Zip.SetZipFileName(Q(Name));
                ADD_FAILURE() << "accepted " << C.Bytes.size() << " bytes";
            } catch (const ZipException& Error) {
                EXPECT_TRUE(Error.Text().endsWith("\nis not a valid Zip file.")) << Error.Text().toStdString();
            }
        }
    }
}

TEST(ZipComponent, MultiDiskArchivesAreRefused)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("m.zip"), EndRecord(2, 0, 0));
    TZip Zip;
    QStringList Messages;
    Zip.OnMessage = [&Messages](const QString& Text) { Messages << Text; };
    Zip.SetZipFileName(Q(Dir.file("m.zip")));
    EXPECT_TRUE(Zip.MultiDisk());
    fs::create_directory(Dir.file("root"));
    testkit::writeText(Dir.file("root/a.txt"), "a");
    Zip.RootDir = Q(Dir.file("root"));
    Zip.FSpecArgs = {"a.txt"};
    EXPECT_EQ(Zip.Add(), 0);
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(Messages[0], TZip::MultiDiskText);
}

TEST(ZipComponent, ExtractRecreatesFoldersOfTheMatchingEntries)
{
    testkit::TempDir Dir;
    testkit::writeZip(Dir.file("a.zip"), {{"Ini/Ondrix.ini", "settings"},
                                          {"Ini/Sub/Samples.ini", "samples"},
                                          {"Log/2018/March/03-03-18.log", "log"},
                                          {"Inifile.txt", "not in the folder"}});
    fs::create_directory(Dir.file("out"));
    TZip Zip;
    Zip.SetZipFileName(Q(Dir.file("a.zip")));
    Zip.ExtrBaseDir = Q(Dir.file("out"));
    Zip.ExtrOptions = 17;
    Zip.FSpecArgs = {"ini/*"};
    EXPECT_EQ(Zip.Extract(), 2);
    EXPECT_EQ(testkit::readText(Dir.file("out/Ini/Ondrix.ini")), "settings");
    EXPECT_EQ(testkit::readText(Dir.file("out/Ini/Sub/Samples.ini")), "samples");
    EXPECT_FALSE(fs::exists(Dir.file("out/Log")));
    EXPECT_FALSE(fs::exists(Dir.file("out/Inifile.txt")));
}

TEST(ZipComponent, HostileOrDamagedArchivesExtractNothing)
{
    struct Case {
        const char* What;
        std::vector<testkit::ZipEntry> Entries;
        bool Deflate = true;
        bool FlipContent = false;
    };
    const Case Cases[] = {
        {"climbs out", {{"Ini/a.ini", "a"}, {"Ini/../../evil.txt", "evil"}}},
        {"parent first", {{"../evil.txt", "evil"}, {"Ini/a.ini", "a"}}},
        {"absolute", {{"Ini/a.ini", "a"}, {"/tmp/evil.txt", "evil"}}},
        {"drive letter", {{"Ini/a.ini", "a"}, {"C:/evil.txt", "evil"}}},
        {"backslashes", {{"Ini/a.ini", "a"}, {"Ini\\..\\..\\evil.txt", "evil"}}},
        {"symbolic link", {{"Ini/a.ini", "a"}, {"Ini/link", "/etc/passwd", true}}},
        {"wrong checksum", {{"Ini/a.ini", "a"}, {"Ini/b.ini", "checksum-me-please"}}, false, true},
    };
    for (const Case& C : Cases) {
        testkit::TempDir Dir;
        const std::string Name = Dir.file("h.zip");
        testkit::writeZip(Name, C.Entries, C.Deflate);
        if (C.FlipContent) {
            std::string Bytes = testkit::readText(Name);
            const size_t At = Bytes.find("checksum-me-please");
            ASSERT_NE(At, std::string::npos);
            Bytes[At] = 'C';
            testkit::writeText(Name, Bytes);
        }
        fs::create_directories(Dir.file("out/base"));
        TZip Zip;
        Zip.SetZipFileName(Q(Name));
        Zip.ExtrBaseDir = Q(Dir.file("out/base"));
        Zip.FSpecArgs = {"*"};
        EXPECT_THROW(Zip.Extract(), ZipException) << C.What;
        // Nothing but what was there: the wrong checksum may only have left the good entry.
        for (const auto& Entry : fs::recursive_directory_iterator(Dir.file("out"))) {
            const std::string Path = Entry.path().string();
            const bool Allowed = Path == Dir.file("out/base") || Path == Dir.file("out/base/Ini")
                                 || (C.FlipContent && Path == Dir.file("out/base/Ini/a.ini"));
            EXPECT_TRUE(Allowed) << C.What << ": " << Path;
        }
        EXPECT_FALSE(fs::exists(Dir.file("evil.txt"))) << C.What;
    }
}

TEST(ZipComponent, SafeEntryNames)
{
    struct Case {
        const char* Name;
        bool Safe;
    };
    const Case Cases[] = {
        {"Ini/Ondrix.ini", true}, {"Log/2018/March/03-03-18.log", true}, {"a..b/c", true},
        {"", false},          {"../x", false},      {"Ini/../x", false}, {"/x", false},
        {"\\x", false},       {"c:x", false},       {"Ini\\..\\x", false}, {"..", false},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(TZip::IsSafeEntryName(C.Name), C.Safe) << C.Name;
}

}  // namespace
