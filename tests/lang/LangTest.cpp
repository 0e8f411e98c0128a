#include "lang/Lang.h"

#include <gtest/gtest.h>

namespace {

class LangTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMessageTable(); }
    void TearDown() override { ResetMessageTable(); }
};

TEST_F(LangTest, BuiltInTextsAreExact)
{
    struct Case {
        const char* Key;
        const char* Text;
    };
    const Case Cases[] = {
        {"Attention", "Внимание!"},
        {"SampleFound", "Найден образец № %d \"%s\""},
        {"FolderWriteAccessError",
         "Приложению не удалось получить доступ на запись в каталог\r\n\"%s\".\r\nПродолжение работы невозможно."},
        {"CommandSent", "Сообщение о нахождении образца №%d отправлено программе \"%s\""},
        {"ServerUpdateAvailable",
         "Доступно обновление программы. \r\nВаша версия: %s\r\nПоследняя версия: %s (выпущена %s)."},
        {"Cancel", "Отмена"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(GetMessageText(C.Key), QString::fromUtf8(C.Text)) << C.Key;
    // The built-in text spells the word with a Latin "a"; it is kept exactly.
    EXPECT_EQ(GetMessageText("ErrorFileNotFound"), QString::fromUtf8("\xD0\xA4" "a" "йл не найден."));
}

TEST_F(LangTest, BuiltInTableHasEveryKeyInOrder)
{
    const QStringList Lines = BuiltInMessageStrings();
    // The original 68 texts, the 5 this program adds to them, the program's own warnings, the
    // sample reminders, the program's start and stop, capture that cannot start, the scanner's
    // messages, the sample list's unread values, the help that could not be opened, a data folder
    // inside the installation, the update server's refused answers, the messages of the
    // external-program socket and those of the configuration archives.
    ASSERT_EQ(Lines.size(), 130);
    EXPECT_EQ(Lines.first(), QString::fromUtf8("Attention=Внимание!"));
    EXPECT_EQ(Lines.at(72), QString::fromUtf8("Cancel=Отмена"));
    EXPECT_EQ(MessageStrings(), Lines);
    QStringList Keys;
    for (const QString& Line : Lines)
        Keys.append(Line.section(u'=', 0, 0).toLower());
    Keys.removeDuplicates();
    EXPECT_EQ(Keys.size(), Lines.size());
}

TEST_F(LangTest, KeysIgnoreCase)
{
    const QString Text = GetMessageText("SampleFound");
    for (const char* Key : {"samplefound", "SAMPLEFOUND", "sAmPlEfOuNd"})
        EXPECT_EQ(GetMessageText(Key), Text) << Key;
    // Callers spell these differently from the table's rows.
    EXPECT_EQ(GetMessageText("ServerUpdate"), QString::fromUtf8("Обновление"));
    EXPECT_EQ(GetMessageText("ServerNoUpdate"), QString::fromUtf8("Вы используете последнюю версию программы."));
    EXPECT_EQ(GetMessageText("DeleteSamples"), QString::fromUtf8("Удалить выбранные образцы без возможности восстановления?"));
}

TEST_F(LangTest, UnknownKeyShowsAsItself)
{
    EXPECT_EQ(GetMessageText("Config_NoSuchText"), "Config_NoSuchText");
    EXPECT_EQ(GetMessageText(""), "");
    EXPECT_EQ(FormatMessageText("NoSuchKey", {1}), "NoSuchKey");
}

TEST_F(LangTest, FormatsPlaceholdersInOrder)
{
    EXPECT_EQ(FormatMessageText("SampleFound", {3, "Jingle"}), QString::fromUtf8("Найден образец № 3 \"Jingle\""));
    EXPECT_EQ(FormatMessageText("ServerUpdateAvailable", {"1.0.0.1", "1.2.0.0", "01.02.2019"}),
              QString::fromUtf8("Доступно обновление программы. \r\nВаша версия: 1.0.0.1\r\n"
                                "Последняя версия: 1.2.0.0 (выпущена 01.02.2019)."));
    struct Case {
        const char* Text;
        QVariantList Args;
        const char* Expected;
    };
    const Case Cases[] = {
        {"%d-%s", {7, "x"}, "7-x"},
        {"%d", {QString("12")}, "12"},
        {"%s %s", {"a %s", "b"}, "a %s b"},  // arguments are not formatted again
        {"100%%", {}, "100%"},
        {"%d and %s", {5}, "5 and %s"},      // a missing argument keeps its placeholder
        {"%d", {"abc"}, "abc"},
        {"%x %", {1}, "%x %"},
        {"%s", {1, 2}, "1"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(FormatMessage(QString::fromUtf8(C.Text), C.Args), QString::fromUtf8(C.Expected)) << C.Text;
}

TEST_F(LangTest, SetMessageTextReplacesInPlaceOrAppends)
{
    SetMessageText("samplefound", "Found %d \"%s\"");
    SetMessageText("Config_NoSuchText", "Nothing to archive");
    EXPECT_EQ(GetMessageText("SampleFound"), "Found %d \"%s\"");
    EXPECT_EQ(GetMessageText("config_nosuchtext"), "Nothing to archive");

    // MessageStrings follow the messages only when rebuilt.
    EXPECT_EQ(MessageStrings(), BuiltInMessageStrings());
    RebuildMessageStrings();
    const QStringList Lines = MessageStrings();
    ASSERT_EQ(Lines.size(), BuiltInMessageStrings().size() + 1);
    EXPECT_EQ(Lines.at(14), "SampleFound=Found %d \"%s\"");  // the row keeps its key and place
    EXPECT_EQ(Lines.last(), "Config_NoSuchText=Nothing to archive");

    ResetMessageTable();
    EXPECT_EQ(GetMessageText("Config_NoSuchText"), "Config_NoSuchText");
    EXPECT_EQ(MessageStrings(), BuiltInMessageStrings());
}

TEST_F(LangTest, MessageStringsSplitAtTheFirstEquals)
{
    TMessageValues Values;
    Values.AddMessageStrings({"A=x=y", "no separator", "=empty key", "B="});
    ASSERT_EQ(Values.Count(), 4);
    EXPECT_EQ(Values.At(0).Key, "A");
    EXPECT_EQ(Values.At(0).Text, "x=y");
    EXPECT_EQ(Values.At(1).Key, "");
    EXPECT_EQ(Values.At(1).Text, "no separator");
    EXPECT_EQ(Values.At(2).Key, "");
    EXPECT_EQ(Values.At(2).Text, "empty key");
    EXPECT_EQ(Values.At(3).Text, "");
    EXPECT_EQ(Values.IndexOf("b"), 3);
    EXPECT_EQ(Values.IndexOf(""), 1);  // the first of equal keys
    EXPECT_EQ(Values.ToMessageStrings(), (QStringList{"A=x=y", "=no separator", "=empty key", "B="}));
}

}  // namespace
