#include "util/IniFile.h"

#include "helpers/TestFiles.h"
#include "helpers/QtPrinters.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// A main settings file as a user may have edited it: odd case in a section line, blanks
// around keys and values, an entry added by hand, an empty line between sections.
const char* const Sample =
    "[ondrix]\r\n"
    "LogCount_Value = 30\r\n"
    "  MyOwnKey=kept as it is  \r\n"
    "Led_PositionMin=-24\r\n"
    "\r\n"
    "[Language]\r\n"
    "Language=Language/OndrixEnglish.lng\r\n";

TEST(IniFileTest, ReadsSectionsWithoutCaseAndKeysWithCase)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("Ondrix.ini"), Sample);
    const TIniFile Ini(Q(Dir.file("Ondrix.ini")));
    EXPECT_EQ(Ini.ReadString("Ondrix", "LogCount_Value", "x"), "30");
    EXPECT_EQ(Ini.ReadString("ONDRIX", "MyOwnKey", "x"), "kept as it is");
    EXPECT_EQ(Ini.ReadString("Ondrix", "logcount_value", "missing"), "missing");
    EXPECT_EQ(Ini.ReadString("Ondrix", "Language", "missing"), "missing");  // another section's key
    EXPECT_EQ(Ini.ReadString("Ondri", "LogCount_Value", "missing"), "missing");  // whole line only
    EXPECT_EQ(Ini.ReadInteger("Ondrix", "Led_PositionMin", 0), -24);
    EXPECT_EQ(Ini.ReadSections(), (QStringList{"ondrix", "Language"}));
    EXPECT_EQ(Ini.ReadSection("Ondrix"), (QStringList{"LogCount_Value", "MyOwnKey", "Led_PositionMin"}));
    EXPECT_TRUE(Ini.ValueExists("Language", "Language"));
    EXPECT_FALSE(Ini.SectionExists("Messages"));
    EXPECT_TRUE(Ini.ReadError().isEmpty());
}

TEST(IniFileTest, TypedValuesFallBackToTheDefault)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("t.ini"),
                       "[S]\r\nInt=12x\r\nYes=TRUE\r\nNo=false\r\nOne=1\r\nBad=maybe\r\n"
                       "Comma=0,5\r\nDot=-1.25\r\nWord=abc\r\n");
    const TIniFile Ini(Q(Dir.file("t.ini")));
    EXPECT_EQ(Ini.ReadInteger("S", "Int", 7), 7);
    EXPECT_EQ(Ini.ReadInteger("S", "Missing", 7), 7);
    EXPECT_TRUE(Ini.ReadBool("S", "Yes", false));
    EXPECT_FALSE(Ini.ReadBool("S", "No", true));
    EXPECT_TRUE(Ini.ReadBool("S", "One", false));
    EXPECT_TRUE(Ini.ReadBool("S", "Bad", true));
    EXPECT_FALSE(Ini.ReadBool("S", "Bad", false));
    EXPECT_DOUBLE_EQ(Ini.ReadFloat("S", "Comma", 9), 0.5);
    EXPECT_DOUBLE_EQ(Ini.ReadFloat("S", "Dot", 9), -1.25);
    EXPECT_DOUBLE_EQ(Ini.ReadFloat("S", "Word", 9), 9);
}

TEST(IniFileTest, NonFiniteNumbersAreNotFractions)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("t.ini"), "[S]\r\nNaN=nan\r\nInf=inf\r\nMinusInf=-INF\r\nHuge=1e999\r\n");
    const TIniFile Ini(Q(Dir.file("t.ini")));
    for (const char* Key : {"NaN", "Inf", "MinusInf", "Huge"})
        EXPECT_DOUBLE_EQ(Ini.ReadFloat("S", Key, 30), 30) << Key;
}

TEST(IniFileTest, LineBreaksCannotSplitAnEntry)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Ondrix.ini");
    testkit::writeText(Name, Sample);
    {
        TIniFile Ini(Q(Name));
        // A text from outside (a server's answer, a pasted value) that tries to add a section.
        Ini.WriteString("Ondrix", "WebUpdate_LastVersion", "1.2\r\n[Language]\r\nLanguage=evil\nX=\r1");
        Ini.WriteString("New\nSection", "Key\r\n", "v");
    }
    const TIniFile Ini(Q(Name));
    EXPECT_EQ(Ini.ReadString("Ondrix", "WebUpdate_LastVersion", ""), "1.2 [Language] Language=evil X= 1");
    EXPECT_EQ(Ini.ReadString("Language", "Language", ""), "Language/OndrixEnglish.lng");
    EXPECT_EQ(Ini.ReadSections(), (QStringList{"ondrix", "Language", "New Section"}));
    EXPECT_EQ(Ini.ReadString("New Section", "Key", ""), "v");
    EXPECT_EQ(Ini.Lines().size(), 11);
}

TEST(IniFileTest, ABracketedEntryIsNotASection)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Ondrix.ini");
    testkit::writeText(Name, Sample);
    {
        TIniFile Ini(Q(Name));
        Ini.WriteString("Ondrix", "[x", "y]");
        Ini.WriteString("Ondrix", "After", "1");
    }
    const TIniFile Ini(Q(Name));
    EXPECT_EQ(Ini.ReadString("Ondrix", "[x", ""), "y]");
    EXPECT_EQ(Ini.ReadString("Ondrix", "After", ""), "1");
    EXPECT_EQ(Ini.ReadSections(), (QStringList{"ondrix", "Language"}));
}

TEST(IniFileTest, UpdatesInPlaceAndKeepsHandEditedEntries)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Ondrix.ini");
    testkit::writeText(Name, Sample);
    {
        TIniFile Ini(Q(Name));
        Ini.WriteInteger("Ondrix", "LogCount_Value", 50);   // existing: replaced in place
        Ini.WriteBool("Ondrix", "LogFileCreate_Checked", true);  // new: end of its section
        Ini.WriteString("Language", "Language", "");
        Ini.WriteFloat("SampleProp", "Volume", 0.1);         // new section after an empty line
    }
    EXPECT_EQ(testkit::readText(Name),
              "[ondrix]\r\n"
              "LogCount_Value=50\r\n"
              "  MyOwnKey=kept as it is  \r\n"
              "Led_PositionMin=-24\r\n"
              "LogFileCreate_Checked=True\r\n"
              "\r\n"
              "[Language]\r\n"
              "Language=\r\n"
              "\r\n"
              "[SampleProp]\r\n"
              "Volume=0.1\r\n");
}

TEST(IniFileTest, SavingTwiceGivesTheSameBytes)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Ondrix.ini");
    auto Save = [&] {
        TIniFile Ini(Q(Name));
        Ini.WriteString("Ondrix", "NormPos", "10,10,810,610");
        Ini.WriteInteger("Ondrix", "ShowCmd", 1);
        Ini.WriteString("Language", "Language", "");
    };
    Save();
    const std::string First = testkit::readText(Name);
    Save();
    EXPECT_EQ(testkit::readText(Name), First);
    EXPECT_EQ(First, "[Ondrix]\r\nNormPos=10,10,810,610\r\nShowCmd=1\r\n\r\n[Language]\r\nLanguage=\r\n");
}

TEST(IniFileTest, WritesOnlyWhenChangedAndCreatesTheFolder)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Data/Ini/Ondrix.ini");
    {
        TIniFile Ini(Q(Name));
        EXPECT_EQ(Ini.ReadString("Ondrix", "X", "d"), "d");
    }
    EXPECT_FALSE(std::filesystem::exists(Dir.file("Data")));  // reading creates nothing
    {
        TIniFile Ini(Q(Name));
        Ini.WriteString("Ondrix", "X", "1");
        QString Error;
        ASSERT_TRUE(Ini.UpdateFile(&Error)) << Error.toStdString();
        EXPECT_FALSE(Ini.Modified());
        // Writing the same value again changes nothing.
        Ini.WriteString("Ondrix", "X", "1");
        EXPECT_FALSE(Ini.Modified());
    }
    EXPECT_EQ(testkit::readText(Name), "[Ondrix]\r\nX=1\r\n");
    // A settings file may hold a secret: the owner's alone.
    EXPECT_EQ(std::filesystem::status(Name).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(IniFileTest, DeletesKeysAndSections)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("t.ini");
    testkit::writeText(Name, Sample);
    {
        TIniFile Ini(Q(Name));
        Ini.DeleteKey("Ondrix", "MyOwnKey");
        Ini.EraseSection("Language");
        Ini.DeleteKey("Nothing", "X");
    }
    EXPECT_EQ(testkit::readText(Name),
              "[ondrix]\r\nLogCount_Value = 30\r\nLed_PositionMin=-24\r\n\r\n");
}

TEST(IniFileTest, AnUnreadableFileIsNeverOverwritten)
{
    testkit::TempDir Dir;
    // A folder where the file should be: it exists but cannot be read as a file.
    const std::string Name = Dir.file("Ondrix.ini");
    std::filesystem::create_directory(Name);
    TIniFile Ini(Q(Name));
    EXPECT_FALSE(Ini.ReadError().isEmpty());
    Ini.WriteString("Ondrix", "X", "1");
    QString Error;
    EXPECT_FALSE(Ini.UpdateFile(&Error));
    EXPECT_TRUE(Error.contains(Q(Name)));
    EXPECT_TRUE(std::filesystem::is_directory(Name));
}

TEST(IniFileTest, ReportsAFileThatCannotBeWritten)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("file"), "x");
    TIniFile Ini(Q(Dir.file("file/Ini/Ondrix.ini")));
    Ini.WriteString("Ondrix", "X", "1");
    QString Error;
    EXPECT_FALSE(Ini.UpdateFile(&Error));
    EXPECT_FALSE(Error.isEmpty());
    EXPECT_TRUE(Ini.Modified());
}

TEST(IniFileTest, ValuesRoundTrip)
{
    testkit::TempDir Dir;
    const QString Name = Q(Dir.file("r.ini"));
    {
        TIniFile Ini(Name);
        Ini.WriteFloat("S", "F", -24.5);
        Ini.WriteFloat("S", "G", 1.0 / 3.0);
        Ini.WriteString("S", "T", QString::fromUtf8("Образец = 1"));
        Ini.WriteBool("S", "B", false);
    }
    const TIniFile Ini(Name);
    EXPECT_EQ(Ini.ReadString("S", "F", ""), "-24.5");
    EXPECT_DOUBLE_EQ(Ini.ReadFloat("S", "G", 0), 1.0 / 3.0);
    EXPECT_EQ(Ini.ReadString("S", "T", ""), QString::fromUtf8("Образец = 1"));
    EXPECT_EQ(Ini.ReadString("S", "B", ""), "False");
    EXPECT_EQ(Ini.ReadSectionValues("S").size(), 4);
}

TEST(IniFileTest, ReadsWindows1251Files)
{
    testkit::TempDir Dir;
    // "[Language]\r\nLanguage=Русский\r\n" in Windows-1251.
    std::vector<uint8_t> Bytes;
    for (char C : std::string("[Language]\r\nLanguage="))
        Bytes.push_back(uint8_t(C));
    for (int B : {0xD0, 0xF3, 0xF1, 0xF1, 0xEA, 0xE8, 0xE9, 0x0D, 0x0A})
        Bytes.push_back(uint8_t(B));
    testkit::writeBytes(Dir.file("OndrixRussian.lng"), Bytes);
    const TIniFile Ini(Q(Dir.file("OndrixRussian.lng")));
    EXPECT_EQ(Ini.ReadString("Language", "Language", ""), QString::fromUtf8("Русский"));
}

}  // namespace
