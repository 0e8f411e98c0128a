// Language files: splitting values, translating a window's components, the messages section,
// the list of language files, the stored choice and the language menu.

#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "util/IniFile.h"

#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace {

QString Q(const std::string& Text)
{
    return QString::fromStdString(Text);
}

// A small window with the kinds of components language files set.
class TTestWindow : public QDialog {
public:
    QLabel* Caption;
    QComboBox* Choice;
    QGroupBox* Group;
    QLabel* Inner;
    QTreeWidget* View;
    TLanguage* Language;

    TTestWindow()
    {
        setObjectName("TestWindow");
        setWindowTitle(QString::fromUtf8("Окно"));
        Caption = new QLabel(QString::fromUtf8("Надпись"), this);
        Caption->setObjectName("Caption");
        Choice = new QComboBox(this);
        Choice->setObjectName("Choice");
        Choice->addItems({"one", "two"});
        Choice->setCurrentIndex(1);
        Group = new QGroupBox("group", this);
        Group->setObjectName("Group");
        auto* Layout = new QVBoxLayout(Group);
        for (const char* Name : {"First", "Second", "Third"}) {
            auto* Radio = new QRadioButton(Name);
            Radio->setObjectName(Name);
            Layout->addWidget(Radio);
        }
        Inner = new QLabel("inner");
        Inner->setObjectName("Inner");
        Layout->addWidget(Inner);
        View = new QTreeWidget(this);
        View->setObjectName("View");
        View->setHeaderLabels({"c1", "c2", "c3"});
        Language = new TLanguage(this);
        Language->Section = "Test";
        RegisterWidgetLanguageProperties();
    }
};

class LanguageTest : public ::testing::Test {
protected:
    testkit::TempDir Dir;

    void SetUp() override
    {
        ResetMessageTable();
        Language::ResetLanguages();
    }
    void TearDown() override
    {
        ResetMessageTable();
        Language::ResetLanguages();
    }

    QString Write(const std::string& Name, const std::string& Text)
    {
        std::filesystem::create_directories(std::filesystem::path(Dir.file(Name)).parent_path());
        testkit::writeText(Dir.file(Name), Text);
        return Q(Dir.file(Name));
    }
};

TEST_F(LanguageTest, ValuesSplitAtTheSeparator)
{
    struct Case {
        const char* Text;
        QStringList Parts;
    };
    const Case Cases[] = {
        {"a;;b", {"a", "", "b"}},
        {"a;b;", {"a", "b"}},
        {" a ; b ", {"a", "b"}},
        {"a", {"a"}},
        {"", {}},
        {";", {""}},
        {"a; ;b", {"a", "", "b"}},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(SplitLanguageValue(C.Text, ";"), C.Parts) << C.Text;
    EXPECT_EQ(SplitLanguageValue("a||b||", "||"), QStringList({"a", "b"}));
}

TEST_F(LanguageTest, ABlankSeparatorRestoresTheSemicolon)
{
    TLanguage Language;
    for (const char* Value : {"", " ", "  "}) {
        Language.SetSeparator("|");
        Language.SetSeparator(Value);
        EXPECT_EQ(Language.Separator(), ";") << '"' << Value << '"';
    }
    EXPECT_EQ(Language.Section, "Main");
    EXPECT_EQ(Language.LineSeparator, " ## ");
    EXPECT_EQ(Language.MessagesSection, "Messages");
}

TEST_F(LanguageTest, SectionDefaultsToTheOwnersClassNameWithoutItsFirstLetter)
{
    QDialog Owner;
    TLanguage Language(&Owner);
    EXPECT_EQ(Language.Section, "Dialog");
    EXPECT_EQ(Language.MainComponent, &Owner);
}

TEST_F(LanguageTest, WindowSectionSetsTextsListsAndNestedComponents)
{
    TTestWindow Window;
    Window.Language->LanguageFile = Write("OndrixTest.lng",
        "[Language]\nLanguage=Test\nHelpFile=help.chm\n"
        "[Test]\n"
        "TestWindow.windowTitle=Window\n"
        "TestWindow.Caption.text=Line one ## line two\n"
        "TestWindow.Choice.Items=Uno;Dos;Tres\n"
        "TestWindow.Group.Items=A;;C\n"
        "TestWindow.Group.Inner.text=Nested\n"
        "TestWindow.View.Columns=X;Y\n"
        "TestWindow.Group.title=Options\n");
    Window.Language->Load();

    EXPECT_EQ(Window.windowTitle(), "Window");
    EXPECT_EQ(Window.Caption->text(), "Line one\nline two");
    // A list value of three parts changes only the two items there are; the selection stays.
    ASSERT_EQ(Window.Choice->count(), 2);
    EXPECT_EQ(Window.Choice->itemText(0), "Uno");
    EXPECT_EQ(Window.Choice->itemText(1), "Dos");
    EXPECT_EQ(Window.Choice->currentIndex(), 1);
    // An empty part sets an empty item.
    EXPECT_EQ(Window.findChild<QRadioButton*>("First")->text(), "A");
    EXPECT_EQ(Window.findChild<QRadioButton*>("Second")->text(), "");
    EXPECT_EQ(Window.findChild<QRadioButton*>("Third")->text(), "C");
    EXPECT_EQ(Window.Inner->text(), "Nested");
    EXPECT_EQ(Window.View->headerItem()->text(0), "X");
    EXPECT_EQ(Window.View->headerItem()->text(1), "Y");
    EXPECT_EQ(Window.View->headerItem()->text(2), "c3");
    EXPECT_EQ(Window.Group->title(), "Options");
    EXPECT_EQ(Window.Language->SavedLanguageName, "Test");
    EXPECT_EQ(Window.Language->HelpFile, "help.chm");
}

TEST_F(LanguageTest, PairsThatCannotBeAppliedAreSkipped)
{
    TTestWindow Window;
    const QString Built = Window.Caption->text();
    struct Case {
        const char* Key;
        const char* Value;
    };
    const Case Cases[] = {
        {"text", "single segment"},              // only a property name
        {"TestWindow.Caption.text", ""},         // empty value
        {"TestWindow.Nothing.text", "missing"},  // no such component
        {"TestWindow.Caption.nosuch", "missing property"},
        {"TestWindow.Caption.font.family", "nested property"},
        {"TestWindow.Language.Section", "the component itself"},
    };
    for (const Case& C : Cases) {
        Window.Language->ApplyPair(C.Key, C.Value);
        EXPECT_EQ(Window.Caption->text(), Built) << C.Key;
    }
    EXPECT_EQ(Window.Language->Section, "Test");
}

TEST_F(LanguageTest, IgnoreListHoldsNamesOrNameAndProperty)
{
    for (const char* Entry : {"Caption", "caption.TEXT"}) {
        TTestWindow Window;
        Window.Language->IngnoreList = QStringList{Entry};
        Window.Language->ApplyPair("TestWindow.Caption.text", "changed");
        Window.Language->ApplyPair("TestWindow.Inner.text", "changed");
        EXPECT_EQ(Window.Caption->text(), QString::fromUtf8("Надпись")) << Entry;
        EXPECT_EQ(Window.Inner->text(), "changed") << Entry;
    }
}

TEST_F(LanguageTest, LoadEventsSeeAndMayChangeEveryValue)
{
    TTestWindow Window;
    QStringList Seen;
    int Before = 0, After = 0;
    Window.Language->OnBeforeLoadLanguage = [&](TLanguage&) { ++Before; };
    Window.Language->OnAfterLoadLanguage = [&](TLanguage&) { ++After; };
    Window.Language->OnLoadLanguage = [&](TLanguage&, QObject* Component, QString& NewValue, const QString& Current,
                                          const QString& Path) {
        Seen.append(Component->objectName() + ":" + Path + ":" + Current);
        NewValue = NewValue.toUpper();
    };
    Window.Language->LanguageFile = Write("OndrixTest.lng", "[Test]\nTestWindow.Caption.text=changed\n"
                                                            "TestWindow.Choice.Items=a;b\n");
    Window.Language->Load();
    EXPECT_EQ(Before, 1);
    EXPECT_EQ(After, 1);
    EXPECT_EQ(Seen, QStringList({QString::fromUtf8("Caption:text:Надпись"), "Choice:Items:one;two"}));
    EXPECT_EQ(Window.Caption->text(), "CHANGED");
    EXPECT_EQ(Window.Choice->itemText(0), "A");
}

TEST_F(LanguageTest, AMissingFileChangesNothing)
{
    TTestWindow Window;
    int Events = 0;
    Window.Language->OnBeforeLoadLanguage = [&](TLanguage&) { ++Events; };
    Window.Language->LanguageFile = Q(Dir.file("OndrixNone.lng"));
    Window.Language->Load();
    EXPECT_EQ(Events, 0);
    EXPECT_EQ(Window.windowTitle(), QString::fromUtf8("Окно"));
}

// A damaged file (binary bytes, a file in the old 8-bit code page, a folder with the file's
// name) is listed or not by what can be read of it, and loading it never loses a built-in text
// it does not replace.
TEST_F(LanguageTest, DamagedFilesLoseNoText)
{
    std::filesystem::create_directories(Dir.file("Language"));
    std::vector<uint8_t> Garbage = {0x00, 0xff, '[', 'L', 0x0d, 0x0a, '=', 0x80, 0x00, ']', ']', '=', '='};
    for (int I = 0; I < 512; ++I)
        Garbage.push_back(uint8_t(I * 37 + 11));
    testkit::writeBytes(Dir.file("Language/OndrixBinary.lng"), Garbage);
    // "[Language] Language=Русский" and a caption in Windows-1251.
    testkit::writeBytes(Dir.file("Language/OndrixOld.lng"),
                        {'[', 'L', 'a', 'n', 'g', 'u', 'a', 'g', 'e', ']', 0x0d, 0x0a, 'L', 'a', 'n', 'g', 'u', 'a', 'g',
                         'e', '=', 0xd0, 0xf3, 0xf1, 0xf1, 0xea, 0xe8, 0xe9, 0x0d, 0x0a, '[', 'T', 'e', 's', 't', ']',
                         0x0d, 0x0a, 'T', '.', 'C', 'a', 'p', 't', 'i', 'o', 'n', '.', 't', 'e', 'x', 't', '=', 0xc4,
                         0xe0, 0x0d, 0x0a});
    std::filesystem::create_directories(Dir.file("Language/OndrixFolder.lng"));
    const Language::TLanguageList List = Language::ListLanguageFiles(Q(Dir.file("Language")));
    EXPECT_EQ(List.Names, QStringList({QString::fromUtf8("Русский")}));

    for (const char* Name : {"OndrixBinary.lng", "OndrixOld.lng", "OndrixFolder.lng"}) {
        SCOPED_TRACE(Name);
        ResetMessageTable();
        TTestWindow Window;
        const QString Title = Window.windowTitle();
        Window.Language->LanguageFile = Q(Dir.file(std::string("Language/") + Name));
        Window.Language->Load();
        EXPECT_EQ(Window.windowTitle(), Title);
        EXPECT_EQ(Window.Caption->text(),
                  std::string(Name) == "OndrixOld.lng" ? QString::fromUtf8("Да") : QString::fromUtf8("Надпись"));
        EXPECT_EQ(GetMessageText("Yes"), QString::fromUtf8("Да"));
    }
}

TEST_F(LanguageTest, MessagesSectionOverlaysTheMessageTable)
{
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, Q(Dir.file("Ondrix.ini")),
                            "ru_RU");
    Global.LanguageFile = Write("OndrixEnglish.lng", "[Messages]\nsamplefound=Sample %d \"%s\" found\n"
                                                     "NewKey=First ## second\n");
    Global.Load();
    EXPECT_EQ(FormatMessageText("SampleFound", {3, "Jingle"}), "Sample 3 \"Jingle\" found");
    EXPECT_EQ(GetMessageText("NewKey"), "First\nsecond");
    // The key keeps its place in the table; a new key goes to its end.
    const QStringList Strings = MessageStrings();
    EXPECT_EQ(Strings.indexOf(QRegularExpression("^SampleFound=.*")), BuiltInMessageStrings().indexOf(
        QRegularExpression("^SampleFound=.*")));
    EXPECT_EQ(Strings.last(), "NewKey=First\nsecond");
    EXPECT_EQ(Global.MessageStrings, Strings);
}

TEST_F(LanguageTest, FilesWithoutADisplayNameAreLeftOutOfTheList)
{
    Write("Language/OndrixB.lng", "[Language]\nLanguage=\n");
    Write("Language/OndrixA.lng", "[Language]\nLanguage=Alpha\n");
    Write("Language/OndrixC.lng", "[Language]\nLanguage=Gamma\n");
    Write("Language/OndrixD.lng", "[Other]\nLanguage=Delta\n");
    Write("Language/Other.lng", "[Language]\nLanguage=Other\n");
    Write("Language/OndrixE.txt", "[Language]\nLanguage=Text\n");
    const Language::TLanguageList List = Language::ListLanguageFiles(Q(Dir.file("Language")));
    EXPECT_EQ(List.Names, QStringList({"Alpha", "Gamma"}));
    EXPECT_EQ(List.Files, QStringList({Q(Dir.file("Language/OndrixA.lng")), Q(Dir.file("Language/OndrixC.lng"))}));
}

TEST_F(LanguageTest, StoredChoiceAndFirstStart)
{
    struct Case {
        const char* Ini;     // content of the settings file; nullptr: no file
        const char* Locale;
        const char* Chosen;  // file name in the language folder; "" for the built-in language
    };
    const Case Cases[] = {
        {nullptr, "en_US", "OndrixEnglish.lng"},        // first start, English desktop
        {nullptr, "de_DE", "OndrixEnglish.lng"},
        {nullptr, "ru_RU", ""},                         // first start, Russian desktop
        {"[Language]\nLanguage=\n", "en_US", ""},       // an empty stored value: built-in
        {"[Ondrix]\nLogCount_Value=30\n", "en_US", "OndrixEnglish.lng"},
        {"[Language]\nLanguage=Language/OndrixGerman.lng\n", "ru_RU", "OndrixGerman.lng"},  // relative
        {"[Language]\nLanguage=Language/OndrixGone.lng\n", "en_US", ""},  // a vanished file
        // the program tree was moved: the same file in the language folder it has now
        {"[Language]\nLanguage=/opt/old/share/ondrix/Language/OndrixGerman.lng\n", "en_US", "OndrixGerman.lng"},
        {"[Language]\nLanguage=../share/ondrix/Language/OndrixGerman.lng\n", "en_US", "OndrixGerman.lng"},
    };
    Write("Language/OndrixEnglish.lng", "[Language]\nLanguage=English\n[Messages]\nYes=Yes\n");
    Write("Language/OndrixGerman.lng", "[Language]\nLanguage=Deutsch\n[Messages]\nYes=Ja\n");
    for (const Case& C : Cases) {
        ResetMessageTable();
        const std::string IniName = Dir.file("Ini.ini");
        std::filesystem::remove(IniName);
        if (C.Ini)
            testkit::writeText(IniName, C.Ini);
        TLanguage Global;
        Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, Q(IniName), C.Locale);
        const QString Expected = *C.Chosen ? Q(Dir.file(std::string("Language/") + C.Chosen)) : QString();
        EXPECT_EQ(Language::ChosenFile(), Expected) << (C.Ini ? C.Ini : "(none)") << C.Locale;
        EXPECT_EQ(Global.LanguageFile, Expected);
        const char* Yes = !*C.Chosen ? "Да" : std::string(C.Chosen) == "OndrixGerman.lng" ? "Ja" : "Yes";
        EXPECT_EQ(GetMessageText("Yes"), QString::fromUtf8(Yes)) << C.Locale;
    }
}

// The desktop's language as gettext reads the variables: LC_ALL, LC_MESSAGES, LANG, the first
// set; LANGUAGE's first entry before it unless that locale is C. The texts follow it from the
// start, and the operator's stored choice of the built-in language takes them back.
TEST_F(LanguageTest, TheDesktopsLanguageIsReadAsGettextReadsIt)
{
    const char* const Names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    struct Case {
        std::vector<std::pair<const char*, const char*>> Set;
        const char* Language;
    };
    const Case Cases[] = {
        {{}, "en"},
        {{{"LANG", "ru_RU.UTF-8"}}, "ru"},
        {{{"LANG", "en_US.UTF-8"}}, "en"},
        {{{"LANG", "C.UTF-8"}}, "en"},
        {{{"LANG", "POSIX"}}, "en"},
        {{{"LANG", "de_DE@euro"}}, "de"},
        {{{"LANG", "ru_RU.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}, "en"},
        {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}, {"LC_ALL", "ru_UA.UTF-8"}}, "ru"},
        {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ru:en"}}, "ru"},
        {{{"LANG", "ru_RU.UTF-8"}, {"LANGUAGE", ":en_GB"}}, "en"},
        {{{"LC_ALL", "C"}, {"LANGUAGE", "ru"}}, "en"},
        {{{"LANGUAGE", "ru"}}, "en"},
    };
    std::vector<std::pair<const char*, QByteArray>> Saved;
    for (const char* Name : Names)
        Saved.emplace_back(Name, qgetenv(Name));
    const auto Use = [&](const Case& C) {
        for (const char* Name : Names)
            qunsetenv(Name);
        for (const auto& [Name, Value] : C.Set)
            qputenv(Name, Value);
    };
    for (const Case& C : Cases) {
        Use(C);
        std::string Context;
        for (const auto& [Name, Value] : C.Set)
            Context += std::string(Name) + "=" + Value + " ";
        EXPECT_EQ(Language::DesktopLanguage(), C.Language) << Context;
    }

    Write("Language/OndrixEnglish.lng", "[Language]\nLanguage=English\n[Messages]\nYes=Yes\nNo=First ## second\n");
    Use({{{"LANG", "en_US.UTF-8"}}, ""});
    Language::UseDesktopLanguage(Q(Dir.file("Language")));
    EXPECT_EQ(GetMessageText("Yes"), "Yes");
    EXPECT_EQ(GetMessageText("No"), "First\nsecond");
    // The stored choice of the built-in language, read with the settings, brings it back.
    const std::string IniName = Dir.file("Ini.ini");
    testkit::writeText(IniName, "[Language]\nLanguage=\n");
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, Q(IniName));
    EXPECT_EQ(GetMessageText("Yes"), QString::fromUtf8("Да"));
    Use({{{"LANG", "ru_RU.UTF-8"}}, ""});
    Language::UseDesktopLanguage(Q(Dir.file("Language")));
    EXPECT_EQ(GetMessageText("Yes"), QString::fromUtf8("Да"));
    for (const auto& [Name, Value] : Saved) {
        if (Value.isNull())
            qunsetenv(Name);
        else
            qputenv(Name, Value);
    }
}

// Qt's own texts (here the edit box's menu) are Russian with the built-in language and Qt's
// English under a language file.
TEST_F(LanguageTest, QtsOwnTextsFollowTheChoice)
{
    const QString English = Write("Language/OndrixEnglish.lng", "[Language]\nLanguage=English\n");
    static const QRegularExpression Cyrillic(QStringLiteral("\\p{Cyrillic}"));
    auto Copy = [] { return QCoreApplication::translate("QLineEdit", "&Copy"); };
    EXPECT_EQ(Copy(), "&Copy");
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, QString(), "ru_RU");
    ASSERT_EQ(Language::ChosenFile(), QString());
    EXPECT_TRUE(Copy().contains(Cyrillic)) << Copy().toStdString();
    Language::SetChosenFile(English);
    EXPECT_EQ(Copy(), "&Copy");
    Language::SetChosenFile(QString());
    EXPECT_TRUE(Copy().contains(Cyrillic)) << Copy().toStdString();
    Language::ResetLanguages();
    EXPECT_EQ(Copy(), "&Copy");
}

TEST_F(LanguageTest, StoredChoiceIsRelativeToTheProgramFolder)
{
    const QString File = Write("Language/OndrixEnglish.lng", "[Language]\nLanguage=English\n");
    const QString IniName = Q(Dir.file("Ini.ini"));
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, IniName, "ru_RU");
    Language::SetChosenFile(File);
    ASSERT_TRUE(Language::SaveChoice());
    EXPECT_EQ(TIniFile(IniName).ReadString("Language", "Language", "?"), "Language/OndrixEnglish.lng");
    Language::SetChosenFile(QString());
    ASSERT_TRUE(Language::SaveChoice());
    TIniFile Ini(IniName);
    EXPECT_TRUE(Ini.ValueExists("Language", "Language"));
    EXPECT_EQ(Ini.ReadString("Language", "Language", "?"), "");
}

class LanguageMenuTest : public LanguageTest {
protected:
    QString IniName;
    QString English, Gamma;

    void SetUp() override
    {
        LanguageTest::SetUp();
        English = Write("Language/OndrixEnglish.lng",
                        "[Language]\nLanguage=English\n[Test]\nTestWindow.Caption.text=Caption\n"
                        "[Messages]\nNeedRestart=Restart?\n");
        Write("Language/OndrixFrench.lng", "[Language]\nHelpFile=x\n");  // no display name
        Gamma = Write("Language/OndrixGamma.lng", "[Language]\nLanguage=Gamma\n[Test]\nTestWindow.Caption.text=G\n");
        IniName = Q(Dir.file("Ini.ini"));
        testkit::writeText(IniName.toStdString(), "[Language]\nLanguage=\n");
    }

    static QList<QAction*> Items(QMenu& Menu)
    {
        QList<QAction*> Result;
        for (QAction* Action : Menu.actions())
            if (!Action->isSeparator())
                Result.append(Action);
        return Result;
    }
    static QString Checked(QMenu& Menu)
    {
        for (QAction* Action : Menu.actions())
            if (Action->isChecked())
                return Action->text();
        return {};
    }
};

TEST_F(LanguageMenuTest, ItemsStayAlignedWithTheirFiles)
{
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, IniName, "ru_RU");
    QMenu Menu;
    FillLanguageMenu(&Menu, {});
    const QList<QAction*> Actions = Menu.actions();
    ASSERT_EQ(Actions.size(), 4);
    EXPECT_EQ(Actions[0]->text(), "Default (Russian)");
    EXPECT_TRUE(Actions[1]->isSeparator());
    EXPECT_EQ(Actions[2]->text(), "English");
    EXPECT_EQ(Actions[3]->text(), "Gamma");
    EXPECT_EQ(Checked(Menu), "Default (Russian)");

    // The item after the nameless file opens its own file, not its neighbour's.
    TTestWindow Window;
    Window.show();
    Actions[3]->trigger();
    EXPECT_EQ(Language::ChosenFile(), Gamma);
    EXPECT_EQ(Window.Caption->text(), "G");
    EXPECT_EQ(Checked(Menu), "Gamma");
    EXPECT_EQ(TIniFile(IniName).ReadString("Language", "Language", "?"), "Language/OndrixGamma.lng");

    // Filled again (the next start), the chosen file is checked.
    QMenu Again;
    FillLanguageMenu(&Again, {});
    EXPECT_EQ(Checked(Again), "Gamma");
}

TEST_F(LanguageMenuTest, GoingBackToTheBuiltInLanguageAsksForARestart)
{
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, IniName, "ru_RU");
    QStringList Asked;
    bool Answer = false;
    int Restarts = 0;
    QMenu Menu;
    FillLanguageMenu(&Menu, {[&](const QString& Text) {
                                 Asked.append(Text);
                                 return Answer;
                             },
                             [&] { ++Restarts; }});
    const QList<QAction*> Actions = Items(Menu);

    // Built-in while built-in: nothing to do, no question.
    Actions[0]->trigger();
    EXPECT_TRUE(Asked.isEmpty());

    Actions[1]->trigger();
    ASSERT_EQ(Language::ChosenFile(), English);
    EXPECT_EQ(GetMessageText("NeedRestart"), "Restart?");

    // "No": the English item stays checked, nothing stored.
    Actions[0]->trigger();
    EXPECT_EQ(Asked, QStringList({"Restart?"}));
    EXPECT_EQ(Restarts, 0);
    EXPECT_EQ(Language::ChosenFile(), English);
    EXPECT_EQ(Checked(Menu), "English");

    // "Yes": the choice is cleared and saved, and the program restarts.
    Answer = true;
    Actions[0]->trigger();
    EXPECT_EQ(Restarts, 1);
    EXPECT_EQ(Language::ChosenFile(), "");
    EXPECT_EQ(Checked(Menu), "Default (Russian)");
    EXPECT_EQ(TIniFile(IniName).ReadString("Language", "Language", "?"), "");
}

TEST_F(LanguageMenuTest, ChoosingALanguageTranslatesEveryOpenWindow)
{
    TLanguage Global;
    Language::InitLanguages(Q(Dir.path().string()), Q(Dir.file("Language")), &Global, IniName, "ru_RU");
    TTestWindow First, Second;
    First.show();
    Second.show();
    QMenu Menu;
    FillLanguageMenu(&Menu, {});
    Items(Menu)[1]->trigger();
    EXPECT_EQ(First.Caption->text(), "Caption");
    EXPECT_EQ(Second.Caption->text(), "Caption");
    // A window created afterwards translates itself from its creation.
    TTestWindow Later;
    ApplyLanguageToWindow(&Later);
    EXPECT_EQ(Later.Caption->text(), "Caption");
}

// The program's message box speaks the interface's language: its caption is its type's name
// and its buttons are the message table's texts; it returns the codes of the button chosen.
TEST(MessageBoxTest, CaptionButtonsAndAnswersComeFromTheMessageTable)
{
    ResetMessageTable();
    struct Case {
        TMessageBoxType Type;
        std::initializer_list<int> Buttons;
        int Default;
        const char* Press;  // a button's text, "Escape" or "Enter"
        const char* Caption;
        QStringList Texts;
        int Result;
    };
    const Case Cases[] = {
        {TMessageBoxType::Question, {mbYes, mbNo}, 0, "Да", "Вопрос!", {"Да", "Нет"}, mbYes},
        {TMessageBoxType::Question, {mbYes, mbNo}, 0, "Нет", "Вопрос!", {"Да", "Нет"}, mbNo},
        {TMessageBoxType::Question, {mbYes, mbNo}, 0, "Escape", "Вопрос!", {"Да", "Нет"}, mbNo},
        {TMessageBoxType::Question, {mbYes, mbNo}, mbNo, "Enter", "Вопрос!", {"Да", "Нет"}, mbNo},
        {TMessageBoxType::Warning, {mbYes, mbNo, mbCancel}, 0, "Escape", "Предупреждение", {"Да", "Нет", "Отмена"}, mbCancel},
        {TMessageBoxType::Warning, {mbYes, mbNo, mbCancel}, 0, "Enter", "Предупреждение", {"Да", "Нет", "Отмена"}, mbYes},
        {TMessageBoxType::Error, {}, 0, "Escape", "Ошибка", {"OK"}, mbOK},
        {TMessageBoxType::Information, {mbOK}, 0, "OK", "Информация", {"OK"}, mbOK},
        {TMessageBoxType::Default, {mbOK, mbCancel}, 0, "Escape", "Внимание!", {"OK", "Отмена"}, mbCancel},
        {TMessageBoxType::None, {}, 0, "Enter", "", {"OK"}, mbOK},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::string(C.Press) + " in a box of type " + std::to_string(int(C.Type)));
        QString Caption;
        QStringList Texts;
        QTimer::singleShot(0, [&] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(Box, nullptr);
            Caption = Box->windowTitle();
            for (QAbstractButton* Button : Box->buttons())
                Texts << Button->text();
            if (std::string(C.Press) == "Escape")
                QTest::keyClick(Box, Qt::Key_Escape);
            else if (std::string(C.Press) == "Enter")
                QTest::keyClick(Box, Qt::Key_Return);
            else
                for (QAbstractButton* Button : Box->buttons())
                    if (Button->text() == C.Press)
                        Button->click();
            if (Box->isVisible())
                Box->done(0);  // a case that failed to close it must not hang
        });
        EXPECT_EQ(ShowMessageBox(nullptr, C.Type, "Text\r\nsecond line", C.Buttons, C.Default), C.Result);
        EXPECT_EQ(Caption, C.Caption);
        Texts.sort();
        QStringList Wanted = C.Texts;
        Wanted.sort();
        EXPECT_EQ(Texts, Wanted);
    }
}

}  // namespace
