// What the Help menu and F1 open: the real main window and dialogs on a private X server, with
// a stand-in for the desktop's launcher that records the address it is given.
#include "app/HelpSystem.h"
#include "app/InfoForms.h"
#include "app/Ondrix_Unit.h"
#include "core/Common_Settings.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"
#include "samples/Class_SampleRec.h"
#include "samples/Form_FrequencyProp.h"
#include "samples/Form_SampleProp.h"

#include "helpers/ModalWatcher.h"
#include "helpers/StandInBrowser.h"
#include "helpers/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString Q(const std::filesystem::path& Path)
{
    return QString::fromStdString(Path.string());
}

// The main window of a program installed in ProgramFile's folder, with its own data folder.
struct HelpFixture : ::testing::Test {
    testkit::TempDir Root;
    testkit::StandInBrowser& Browser = testkit::StandInBrowser::instance();
    std::unique_ptr<TSettings> ProgramSettings;
    std::unique_ptr<TOndrix> Window;

    // Language is the language file chosen (relative to the program), empty for the built-in
    // language whatever the desktop's language.
    void Start(const QString& ProgramFile = QStringLiteral(ONDRIX_BIN_DIR "/ondrix"), const std::string& Language = "")
    {
        std::filesystem::create_directories(Root.path() / "Data" / "Ini");
        testkit::writeText((Root.path() / "Data" / "Ini" / "Ondrix.ini").string(), "[Language]\r\nLanguage=" + Language + "\r\n");
        ProgramSettings = std::make_unique<TSettings>(
            TSettingsStartup{{"/Data=" + Q(Root.path() / "Data")}, ProgramFile, [](qint64) {}});
        Window = std::make_unique<TOndrix>();
        Window->show();
        Browser.clear();
    }

    void TearDown() override
    {
        Browser.setAvailable(true);
        Window.reset();
        Language::ResetLanguages();
        ProgramSettings.reset();
    }

    QAction* Action(const char* Name) const
    {
        auto* Found = Window->findChild<QAction*>(QString::fromLatin1(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }

    // The page a context opens in a language, as the program's settings find the manual.
    QUrl Expected(int Context, const QString& Language = "ru") const
    {
        return Help::TopicUrl(ProgramSettings->HelpFolder, Language, Context);
    }

    // The one address opened by Action.
    QUrl Opened(const std::function<void()>& Action)
    {
        Browser.clear();
        Action();
        EXPECT_TRUE(Browser.waitForAddresses(1));
        const auto Addresses = Browser.addresses();
        EXPECT_EQ(Addresses.size(), 1u);
        return Addresses.empty() ? QUrl() : QUrl(QString::fromStdString(Addresses.front()));
    }

    // F1 pressed on a widget, as the keyboard sends it to the focused control.
    QUrl OpenedByF1(QWidget* Widget)
    {
        return Opened([Widget] { QTest::keyClick(Widget, Qt::Key_F1); });
    }
};

TEST_F(HelpFixture, MenuItemsAreEnabledWithTheManualAndOpenTheirPages)
{
    Start();
    ASSERT_FALSE(ProgramSettings->HelpFolder.isEmpty());
    struct Case {
        const char* Action;
        int Context;
        const char* Page;
    };
    const Case Cases[] = {
        {"MContents", Help::ContentsContext, "index.html"},
        {"MStarting", Help::StartingContext, "setup.html"},
        {"MFAQ", Help::FAQContext, "faq.html"},
    };
    for (const Case& C : Cases) {
        QAction* Item = Action(C.Action);
        ASSERT_NE(Item, nullptr);
        EXPECT_TRUE(Item->isEnabled()) << C.Action;
        const QUrl Url = Opened([Item] { Item->trigger(); });
        EXPECT_EQ(Url, Expected(C.Context)) << C.Action << ": " << Url.toString().toStdString();
        EXPECT_TRUE(Url.isLocalFile()) << C.Action;
        EXPECT_EQ(QFileInfo(Url.toLocalFile()).fileName(), C.Page) << C.Action;
        EXPECT_TRUE(QFileInfo(Url.toLocalFile()).isFile()) << C.Action;
    }
}

TEST_F(HelpFixture, WithoutTheManualTheMenuItemsAreDisabled)
{
    // A program folder with its settings defaults but no Help folder.
    const auto Program = Root.path() / "bin";
    std::filesystem::create_directories(Program / "Ini_Def");
    Start(Q(Program / "ondrix"));
    EXPECT_TRUE(ProgramSettings->HelpFolder.isEmpty());
    for (const char* Name : {"MContents", "MStarting", "MFAQ"}) {
        QAction* Item = Action(Name);
        ASSERT_NE(Item, nullptr);
        EXPECT_FALSE(Item->isEnabled()) << Name;
    }
}

TEST_F(HelpFixture, TheEnglishLanguageFileOpensTheEnglishPages)
{
    Start(QStringLiteral(ONDRIX_BIN_DIR "/ondrix"), "Language/OndrixEnglish.lng");
    ASSERT_NE(Language::GlobalComponent(), nullptr);
    ASSERT_EQ(Language::GlobalComponent()->HelpFile, "en");
    QAction* Starting = Action("MStarting");
    ASSERT_NE(Starting, nullptr);
    EXPECT_EQ(Opened([Starting] { Starting->trigger(); }), Expected(Help::StartingContext, "en"));
}

TEST_F(HelpFixture, F1OpensThePageOfThePartOfTheMainWindowInFocus)
{
    Start();
    auto* Pages = Window->findChild<QTabWidget*>("PageControl");
    auto* Tree = Window->findChild<QTreeWidget*>("Tree");
    ASSERT_NE(Pages, nullptr);
    ASSERT_NE(Tree, nullptr);
    struct Case {
        int Page;
        int Node;  // settings tree node shown, -1 for none
        const char* Control;
        int Context;
    };
    const Case Cases[] = {
        {0, -1, "SampleView", Help::PagesContext},
        {0, -1, "LogMessageView", Help::PagesContext},
        {0, -1, "Led", Help::MainWindowContext},
        // Right after a settings panel was chosen the keyboard is still on the tree: F1 there
        // is about the panel shown.
        {1, 0, "Tree", Help::ProgramPanelContext},
        {1, 1, "Tree", Help::RecordPanelContext},
        {1, 2, "Tree", Help::FrequencyPanelContext},
        {1, 3, "Tree", Help::EmailPanelContext},
        {1, 4, "Tree", Help::ConfigPanelContext},
        {1, 0, "LogCount", Help::ProgramPanelContext},
        {1, 1, "ComboBox_Device", Help::RecordPanelContext},
        {1, 2, "FrequencyView", Help::FrequencyPanelContext},
        {1, 3, "SMTPHostEdit", Help::EmailPanelContext},
        {1, 4, "Edit_Config_BackupFolder", Help::ConfigPanelContext},
    };
    for (const Case& C : Cases) {
        Pages->setCurrentIndex(C.Page);
        if (C.Node >= 0)
            Tree->setCurrentItem(Tree->topLevelItem(C.Node));
        auto* Control = Window->findChild<QWidget*>(QString::fromLatin1(C.Control));
        ASSERT_NE(Control, nullptr) << C.Control;
        EXPECT_EQ(OpenedByF1(Control), Expected(C.Context)) << C.Control;
    }
    // On the window itself (nothing in focus) F1 opens the page of the main window.
    EXPECT_EQ(OpenedByF1(Window.get()), Expected(Help::MainWindowContext));
}

TEST_F(HelpFixture, WhenNoBrowserCanBeStartedABoxSaysSoAndNamesThePagesFile)
{
    Start();
    QAction* Contents = Action("MContents");
    ASSERT_NE(Contents, nullptr);
    // The desktop's launcher as Qt first finds it, then gone (as without xdg-utils).
    ASSERT_TRUE(Opened([Contents] { Contents->trigger(); }).isLocalFile());
    Browser.setAvailable(false);
    Browser.clear();
    struct Case {
        const char* Name;
        std::function<void()> Ask;
        int Context;
    };
    const Case Cases[] = {
        {"menu", [Contents] { Contents->trigger(); }, Help::ContentsContext},
        {"F1", [this] { QTest::keyClick(Window->findChild<QWidget*>("SampleView"), Qt::Key_F1); }, Help::PagesContext},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        QString Caption, Text;
        testkit::ModalWatcher<QMessageBox> Box("", [&](QMessageBox& Seen) {
            Caption = Seen.windowTitle();
            Text = Seen.text();
            const QByteArray Folder = qgetenv("ONDRIX_SCREENSHOTS");
            if (!Folder.isEmpty())
                Seen.grab().save(QString::fromUtf8(Folder) + "/help-not-opened.png");
            Seen.accept();
        });
        C.Ask();
        EXPECT_EQ(Box.seen(), 1);
        EXPECT_EQ(Caption, GetMessageText("Warning"));
        const QString File = Expected(C.Context).toLocalFile();
        EXPECT_EQ(Text, FormatMessageText("HelpNotOpened", {File}).replace("\r\n", "\n"));
        EXPECT_TRUE(QFileInfo(File).isFile()) << File.toStdString();
    }
    EXPECT_TRUE(Browser.addresses().empty());
}

TEST_F(HelpFixture, F1InEveryDialogOpensItsPage)
{
    Start();
    TSampleList Samples;
    const TFrequencyRecArr Table;
    TSamplePropertyForm SampleForm(Window.get(), Samples, Table);
    TFrequencyProp FrequencyForm(Window.get());
    TAboutForm About("Ondrix", "1.2.3.4", Window.get());
    TWhatsNewForm WhatsNew(Q(Root.path() / "WhatsNew.txt"), Window.get());
    struct Case {
        QWidget* Dialog;
        int Context;
    };
    const Case Cases[] = {
        {&SampleForm, Help::SampleDialogContext},
        {&FrequencyForm, Help::FrequencyDialogContext},
        {&About, Help::ContentsContext},
        {&WhatsNew, Help::ContentsContext},
    };
    for (const Case& C : Cases) {
        C.Dialog->show();
        // A control of the dialog that takes the keyboard, and the dialog itself.
        QWidget* Focus = nullptr;
        for (QWidget* Child : C.Dialog->findChildren<QWidget*>())
            if (!Focus && Child->focusPolicy() != Qt::NoFocus && Child->window() == C.Dialog)
                Focus = Child;
        ASSERT_NE(Focus, nullptr) << C.Dialog->metaObject()->className();
        EXPECT_EQ(OpenedByF1(Focus), Expected(C.Context)) << C.Dialog->metaObject()->className();
        EXPECT_EQ(OpenedByF1(C.Dialog), Expected(C.Context)) << C.Dialog->metaObject()->className();
        C.Dialog->hide();
    }
}

}  // namespace
