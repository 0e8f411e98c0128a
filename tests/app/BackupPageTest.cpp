// The configuration page's archive controls in the real window, offscreen: the buttons run the
// archive operations with real boxes, and the folder edit moves the archive folder.

#include "app/BackupPage.h"
#include "app/Ondrix_Unit.h"
#include "core/Common_Settings.h"
#include "core/ConfigBackupBinding.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "core/SettingsModel.h"
#include "helpers/QtPrinters.h"
#include "helpers/QtWait.h"
#include "helpers/TestFiles.h"
#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

struct BackupPageFixture : ::testing::Test {
    testkit::TempDir Root;
    std::unique_ptr<TSettings> Folders;
    std::unique_ptr<TOndrix> Window;
    TQueuePump Pump{MainThreadQueue()};
    std::unique_ptr<TMonitorController> Controller;
    std::unique_ptr<TConfigBackupBinding> Binding;
    std::unique_ptr<TBackupPage> Page;

    void SetUp() override
    {
        fs::create_directories(Root.path() / "prog");
        Folders = std::make_unique<TSettings>(
            TSettingsStartup{{"/Data=" + Q(Root.path() / "Station")}, Q(Root.path() / "prog" / "ondrix"), [](qint64) {}});
        Window = std::make_unique<TOndrix>();
        Controller = std::make_unique<TMonitorController>(*Folders, *Window->Model());
        Window->AttachController(Controller.get());
        Binding = std::make_unique<TConfigBackupBinding>(*Controller, *Folders);
        Page = std::make_unique<TBackupPage>(*Window, *Binding);
        testkit::writeText(Folders->IniFolder.toStdString() + "Ondrix.ini", "[Ondrix]\r\n");
        Window->show();
    }

    void TearDown() override
    {
        Language::ResetLanguages();
        ResetMessageTable();
        Page.reset();
        Binding.reset();
        Controller.reset();
        Window.reset();
        Folders.reset();
    }

    template <class T>
    T* Child(const char* Name) const
    {
        T* Found = Window->findChild<T*>(QString::fromLatin1(Name));
        if (!Found)
            throw std::runtime_error(std::string("no control ") + Name);
        return Found;
    }
};

// Answers the next message box with Button once it is up, keeping its caption and text. It
// looks for the box from the event loop, whichever loop is running then: a box shown when a
// backup's thread reports back comes up inside a later turn of the test's own wait.
void AnswerBox(QMessageBox::StandardButton Button, QString* Caption, QString* Text)
{
    auto* Poll = new QTimer;
    Poll->setInterval(10);
    QObject::connect(Poll, &QTimer::timeout, [=] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box || !Box->isVisible())
            return;
        *Caption = Box->windowTitle();
        *Text = Box->text();
        Poll->stop();
        Poll->deleteLater();
        Box->button(Button)->click();
    });
    Poll->start();
}

TEST_F(BackupPageFixture, TheButtonsAreOnAndTheFolderHasAChooser)
{
    for (const char* Name : {"Button_Config_Save", "Button_Config_Load", "Button_Config_Reset"})
        EXPECT_TRUE(Child<QPushButton>(Name)->isEnabled()) << Name;
    ASSERT_NE(Page->FolderDialogAction(), nullptr);
    EXPECT_EQ(Page->FolderDialogAction()->objectName(), "Edit_Config_BackupFolder_Dialog");
    // Typing a folder moves the archives there.
    QLineEdit* Edit = Child<QLineEdit>("Edit_Config_BackupFolder");
    Edit->clear();
    QTest::keyClicks(Edit, "Archives");
    EXPECT_EQ(Folders->BackupFolder, Folders->DataFolder + "Archives/");

    // The configuration panel as the operator sees it ($ONDRIX_SCREENSHOTS: where to keep it).
    Window->findChild<QTabWidget*>("PageControl")->setCurrentIndex(1);
    auto* Tree = Window->findChild<QTreeWidget*>();
    ASSERT_NE(Tree, nullptr);
    Tree->setCurrentItem(Tree->topLevelItem(4));
    EXPECT_TRUE(Child<QWidget>("Settings_Config")->isVisible());
    const QString Shots = qEnvironmentVariable("ONDRIX_SCREENSHOTS");
    if (!Shots.isEmpty())
        Window->grab().save(Shots + "/config-page.png");
}

// The folder chooser speaks the window's language: its caption is the chooser button's text,
// which the language file translates with the rest of the window.
TEST_F(BackupPageFixture, TheFolderChooserIsCaptionedInTheWindowsLanguage)
{
    QAction* Chooser = Page->FolderDialogAction();
    ASSERT_NE(Chooser, nullptr);
    EXPECT_TRUE(Chooser->isEnabled());
    const auto CaptionOfChooser = [&] {
        QString Caption;
        auto* Poll = new QTimer;
        Poll->setInterval(10);
        QObject::connect(Poll, &QTimer::timeout, [&Caption, Poll] {
            auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!Dialog || !Dialog->isVisible())
                return;
            Caption = Dialog->windowTitle();
            Poll->stop();
            Poll->deleteLater();
            Dialog->reject();
        });
        Poll->start();
        Chooser->trigger();
        return Caption;
    };
    EXPECT_EQ(CaptionOfChooser(), QString::fromUtf8("Выберите каталог для архивирования данных и конфигурации"));
    Language::SetChosenFile(QStringLiteral(ONDRIX_BIN_DIR "/Language/OndrixEnglish.lng"));
    ApplyLanguageToWindow(Window.get());
    EXPECT_EQ(CaptionOfChooser(), "Choose the folder for archives of data and configuration");
    // A cancelled chooser leaves the folder as it was.
    EXPECT_EQ(Folders->BackupFolder, Folders->DataFolder + "Backup/");
}

TEST_F(BackupPageFixture, SaveArchivesAndSaysWhere)
{
    QString Caption, Text;
    AnswerBox(QMessageBox::Ok, &Caption, &Text);
    QTest::mouseClick(Child<QPushButton>("Button_Config_Save"), Qt::LeftButton);
    // The archive is written on its own thread; its box comes afterwards.
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !Text.isEmpty(); }));
    const QString Archive = BackupArchiveName(Folders->BackupFolder, Now());
    EXPECT_EQ(Caption, GetMessageText("Information"));
    EXPECT_EQ(Text, FormatMessageText("Config_Backup_Done", {Archive}).replace("\r\n", "\n"));
    EXPECT_TRUE(fs::exists(Archive.toStdString()));
}

TEST_F(BackupPageFixture, ResetWithNothingSelectedAsksAndDoesNothing)
{
    Child<QCheckBox>("Check_Config_Data_Settings")->setChecked(false);
    Child<QCheckBox>("Check_Config_Data_Log")->setChecked(false);
    QString Caption, Text;
    AnswerBox(QMessageBox::Yes, &Caption, &Text);
    QTest::mouseClick(Child<QPushButton>("Button_Config_Reset"), Qt::LeftButton);
    EXPECT_EQ(Caption, GetMessageText("Question"));
    EXPECT_EQ(Text, GetMessageText("Config_Reset_Confirm").replace("\r\n", "\n"));
    EXPECT_TRUE(fs::exists(Folders->IniFolder.toStdString() + "Ondrix.ini"));
    EXPECT_FALSE(Folders->RestartRequested);
    EXPECT_TRUE(Window->isVisible());
}

TEST(BackupPageFilter, PairsBecomeTheDialogsFilter)
{
    EXPECT_EQ(TBackupPage::DialogFilter(QString::fromUtf8("Ondrix Backup|Ondrix-Backup*.zip|Все файлы|*.*")),
              QString::fromUtf8("Ondrix Backup (Ondrix-Backup*.zip);;Все файлы (*.*)"));
    EXPECT_EQ(TBackupPage::DialogFilter("Texts|*.txt;*.log|"), "Texts (*.txt *.log)");
}

}  // namespace
