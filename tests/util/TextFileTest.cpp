#include "util/TextFile.h"

#include "helpers/TestFiles.h"
#include "helpers/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace {

TEST(TextFileTest, ReadsUtf8WithAndWithoutBom)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("plain.txt"), "Привет=1\r\n");
    testkit::writeText(Dir.file("bom.txt"), "\xEF\xBB\xBFПривет=1\r\n");
    for (const char* Name : {"plain.txt", "bom.txt"}) {
        QString Text;
        ASSERT_TRUE(ReadTextFile(Q(Dir.file(Name)), Text)) << Name;
        EXPECT_EQ(Text, QString::fromUtf8("Привет=1\r\n")) << Name;
    }
}

TEST(TextFileTest, ReadsWindows1251WhenBytesAreNotUtf8)
{
    testkit::TempDir Dir;
    // "Образец" in Windows-1251, as older installations wrote it.
    testkit::writeBytes(Dir.file("old.ini"), {0xCE, 0xE1, 0xF0, 0xE0, 0xE7, 0xE5, 0xF6, 0x0D, 0x0A});
    QString Text;
    ASSERT_TRUE(ReadTextFile(Q(Dir.file("old.ini")), Text));
    EXPECT_EQ(Text, QString::fromUtf8("Образец\r\n"));
}

TEST(TextFileTest, ReadErrorNamesTheFile)
{
    testkit::TempDir Dir;
    const QString Missing = Q(Dir.file("missing.ini"));
    QString Text = QStringLiteral("kept");
    QString Error;
    EXPECT_FALSE(ReadTextFile(Missing, Text, &Error));
    EXPECT_TRUE(Error.contains(Missing)) << Error.toStdString();
    EXPECT_EQ(Text, QStringLiteral("kept"));

    EXPECT_FALSE(ReadTextFile(Q(Dir.path().string()), Text, &Error));
    EXPECT_TRUE(Error.contains(Q(Dir.path().string()))) << Error.toStdString();
}

TEST(TextFileTest, SplitsAtEveryLineBreakKind)
{
    struct Case {
        const char* Text;
        QStringList Lines;
    };
    const Case Cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\n", {""}},
        {"a\n\n", {"a", ""}},
        {"a\r\r\n", {"a", ""}},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(SplitTextLines(QString::fromUtf8(C.Text)), C.Lines) << C.Text;
}

TEST(TextFileTest, WritesUtf8WithCrLfAndCreatesFolders)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("a/b/c/Samples.ini");
    ASSERT_TRUE(WriteTextFileAtomic(Q(Name), {QString::fromUtf8("Образец"), "", "x=1"}));
    EXPECT_EQ(testkit::readText(Name), "Образец\r\n\r\nx=1\r\n");

    // Replacing leaves no temporary files behind.
    ASSERT_TRUE(WriteTextFileAtomic(Q(Name), {"y"}));
    EXPECT_EQ(testkit::readText(Name), "y\r\n");
    EXPECT_EQ(QDir(Q(Dir.file("a/b/c"))).entryList(QDir::Files | QDir::Hidden), QStringList{"Samples.ini"});
}

// A file rewritten every second is only replaced when its lines change: the same lines keep the
// very file (same inode), other lines replace it.
TEST(TextFileTest, WriteIfChangedLeavesTheSameLinesAlone)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("state/window.txt");
    ASSERT_TRUE(WriteTextFileIfChanged(Q(Name), {"Visible=1", "Status=On"}));
    EXPECT_EQ(testkit::readText(Name), "Visible=1\r\nStatus=On\r\n");
    struct stat Before {};
    ASSERT_EQ(::stat(Name.c_str(), &Before), 0);
    ASSERT_TRUE(WriteTextFileIfChanged(Q(Name), {"Visible=1", "Status=On"}));
    struct stat Same {};
    ASSERT_EQ(::stat(Name.c_str(), &Same), 0);
    EXPECT_EQ(Same.st_ino, Before.st_ino);
    ASSERT_TRUE(WriteTextFileIfChanged(Q(Name), {"Visible=0", "Status=On"}));
    EXPECT_EQ(testkit::readText(Name), "Visible=0\r\nStatus=On\r\n");
}

TEST(TextFileTest, FailedWriteKeepsTheOldFile)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Ondrix.ini");
    testkit::writeText(Name, "old\r\n");
    // A folder where the temporary file would be renamed to makes the rename fail.
    const std::string Blocked = Dir.file("blocked");
    std::filesystem::create_directories(Blocked + "/inside");
    QString Error;
    EXPECT_FALSE(WriteTextFileAtomic(Q(Blocked), {"new"}, &Error));
    EXPECT_TRUE(Error.contains(Q(Blocked))) << Error.toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(Blocked + "/inside"));

    // A folder chain that cannot be created (a file stands in its way).
    EXPECT_FALSE(WriteTextFileAtomic(Q(Name + "/sub/x.ini"), {"new"}, &Error));
    EXPECT_EQ(testkit::readText(Name), "old\r\n");
}

TEST(TextFileTest, FullDiskFailsTheSaveAndKeepsTheOldFile)
{
    // The disk fills up at 4 KiB. A save smaller than the writer's buffer (16 KiB) used to
    // "succeed" with an empty file: its bytes were only flushed, unchecked, at the commit.
    struct Case { int Lines; bool Fits; };
    for (const Case& C : {Case{10, true}, Case{100, false}, Case{300, false}, Case{3000, false}}) {
        SCOPED_TRACE(C.Lines);
        testkit::TempDir Dir;
        const std::string Name = Dir.file("Samples.ini");
        testkit::writeText(Name, "Description=old\r\n");
        const QStringList Lines(C.Lines, QStringLiteral("Description=новое описание"));  // 41 bytes a line
        QString Error;
        bool Saved = false;
        {
            testkit::FileSizeLimit Full(4096);
            Saved = WriteTextFileAtomic(Q(Name), Lines, &Error);
        }
        EXPECT_EQ(Saved, C.Fits) << Error.toStdString();
        if (C.Fits) {
            EXPECT_EQ(testkit::readText(Name).size(), size_t(C.Lines) * 41);
            continue;
        }
        EXPECT_TRUE(testkit::readText(Name) == "Description=old\r\n") << testkit::readText(Name).size() << " bytes";
        EXPECT_TRUE(Error.contains(Q(Name))) << Error.toStdString();
        EXPECT_TRUE(Error.contains(QStringLiteral("disk is full"))) << Error.toStdString();
        // No temporary file is left behind.
        EXPECT_EQ(QDir(Q(Dir.path())).entryList(QDir::Files | QDir::Hidden), QStringList{"Samples.ini"});
    }
}

TEST(TextFileTest, AppendsLinesAndCreatesFolders)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Log/2018/March/03-03-18.log");
    ASSERT_TRUE(AppendTextLines(Q(Name), {"one"}));
    ASSERT_TRUE(AppendTextLines(Q(Name), {QString::fromUtf8("два"), "three"}));
    EXPECT_EQ(testkit::readText(Name), "one\r\nдва\r\nthree\r\n");

    QString Error;
    EXPECT_FALSE(AppendTextLines(Q(Name + "/x.log"), {"x"}, &Error));
    EXPECT_FALSE(Error.isEmpty());
}

TEST(TextFileTest, WrittenTextReadsBackTheSame)
{
    testkit::TempDir Dir;
    const QString Name = Q(Dir.file("round.txt"));
    const QStringList Lines{QString::fromUtf8("Найден образец № 1 \"Джингл\""), "", "end"};
    ASSERT_TRUE(WriteTextFileAtomic(Name, Lines));
    QString Text;
    ASSERT_TRUE(ReadTextFile(Name, Text));
    EXPECT_EQ(SplitTextLines(Text), Lines);
}

}  // namespace

namespace {

mode_t ModeOf(const std::string& Name)
{
    struct stat Info {};
    EXPECT_EQ(::stat(Name.c_str(), &Info), 0) << Name;
    return Info.st_mode & 07777;
}

}  // namespace

// A file that may hold a secret is the owner's alone however it is written: new, replacing a
// file others could read, and through the temporary file that is renamed over the old one.
// Other files keep the permissions they have.
TEST(TextFileTest, OwnerOnlyFilesAreNeverReadableByOthers)
{
    testkit::TempDir Dir;
    const mode_t OldMask = ::umask(022);
    const std::string Fresh = Dir.file("Ini/Fresh.ini"), Old = Dir.file("Ini/Old.ini"), Other = Dir.file("Ini/Other.txt");
    ASSERT_TRUE(WriteTextFileAtomic(Q(Fresh), {"Password=secret"}, nullptr, TFileAccess::OwnerOnly));
    EXPECT_EQ(ModeOf(Fresh), mode_t(0600));
    testkit::writeText(Old, "Password=old\r\n");
    ASSERT_EQ(::chmod(Old.c_str(), 0644), 0);
    ASSERT_TRUE(WriteTextFileAtomic(Q(Old), {"Password=new"}, nullptr, TFileAccess::OwnerOnly));
    EXPECT_EQ(ModeOf(Old), mode_t(0600));
    EXPECT_EQ(testkit::readText(Old), "Password=new\r\n");
    testkit::writeText(Other, "x\r\n");
    ASSERT_EQ(::chmod(Other.c_str(), 0640), 0);
    ASSERT_TRUE(WriteTextFileAtomic(Q(Other), {"y"}));
    EXPECT_EQ(ModeOf(Other), mode_t(0640));
    // A file others could read loses their permissions; the owner's stay.
    ASSERT_EQ(::chmod(Other.c_str(), 0754), 0);
    EXPECT_TRUE(RestrictToOwner(Q(Other)));
    EXPECT_EQ(ModeOf(Other), mode_t(0700));
    EXPECT_FALSE(RestrictToOwner(Q(Dir.file("missing"))));
    ::umask(OldMask);
}

TEST(TextFileTest, PrivateFoldersAreCreatedForTheOwnerAlone)
{
    testkit::TempDir Dir;
    const mode_t OldMask = ::umask(022);
    std::filesystem::create_directories(Dir.file("shared"));
    ASSERT_EQ(::chmod(Dir.file("shared").c_str(), 0755), 0);
    QString Error;
    ASSERT_TRUE(ForcePrivateFolders(Q(Dir.file("shared/a/b/")), &Error)) << Error.toStdString();
    EXPECT_EQ(ModeOf(Dir.file("shared")), mode_t(0755));  // an existing folder stays as it is
    EXPECT_EQ(ModeOf(Dir.file("shared/a")), mode_t(0700));
    EXPECT_EQ(ModeOf(Dir.file("shared/a/b")), mode_t(0700));
    EXPECT_TRUE(ForcePrivateFolders(Q(Dir.file("shared/a/b"))));
    testkit::writeText(Dir.file("file"), "x");
    EXPECT_FALSE(ForcePrivateFolders(Q(Dir.file("file/sub")), &Error));
    EXPECT_TRUE(Error.contains(Q(Dir.file("file/sub")))) << Error.toStdString();
    ::umask(OldMask);
}
