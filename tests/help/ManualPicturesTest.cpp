// The manual's pictures of the windows, taken from the program as it is: the main window
// monitoring a private sound server with a jingle just found, every settings panel and the
// sample window, in Russian and in English. scripts/screenshots.sh runs this with
// ONDRIX_MANUAL_PICTURES naming the manual's folder, so the pictures follow the program;
// without it they go to a temporary folder and only the checks count.
#include "app/BackupPage.h"
#include "app/Ondrix_Unit.h"
#include "core/Common_Settings.h"
#include "core/ConfigBackupBinding.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"
#include "samples/Class_SampleRec.h"
#include "samples/Form_SampleProp.h"

#include "helpers/QtPrinters.h"
#include "helpers/Broadcast.h"
#include "helpers/PulseServer.h"
#include "helpers/QtWait.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace fs = std::filesystem;

namespace {

// What the pictures show in each language: the samples' names.
struct TPictureLanguage {
    const char* Folder;
    const char* LanguageFile;  // chosen in the settings, relative to the program; empty: built in
    const char* Jingle;
    const char* Silence;
    const char* Command;
};

const TPictureLanguage PictureLanguages[] = {
    {"ru", "", "Джингл утро", "Тишина в эфире", "Команда 1,5,9"},
    {"en", "Language/OndrixEnglish.lng", "Morning jingle", "Dead air", "Command 1,5,9"},
};

void PrintTo(const TPictureLanguage& Language, std::ostream* Out)
{
    *Out << Language.Folder;
}

struct ManualPictures : ::testing::TestWithParam<TPictureLanguage> {
    testkit::TempDir Root;
    fs::path Data = Root.path() / "Station";
    QString Output;

    void SetUp() override
    {
        const char* Folder = std::getenv("ONDRIX_MANUAL_PICTURES");
        const QString Base = Folder && *Folder ? QString::fromLocal8Bit(Folder) : Q(Root.path() / "Help");
        Output = Base + "/" + GetParam().Folder + "/img/";
        ASSERT_TRUE(QDir().mkpath(Output));
        // A monitor that serves external programs does it on a socket of its own.
        setenv("ONDRIX_SOCKET", (Root.path() / "ondrix.socket").c_str(), 1);
    }

    void TearDown() override
    {
        unsetenv("ONDRIX_SOCKET");
        Language::ResetLanguages();
        ResetMessageTable();
    }

    // Saves a widget as the picture Name; it must show the widget whole.
    void Save(QWidget* Widget, const QString& Name) const
    {
        QCoreApplication::processEvents();
        const QImage Picture = Widget->grab().toImage();
        EXPECT_FALSE(Picture.isNull()) << Name.toStdString();
        EXPECT_EQ(Picture.size(), Widget->size()) << Name.toStdString();
        EXPECT_TRUE(Picture.save(Output + Name)) << (Output + Name).toStdString();
    }
};

TEST_P(ManualPictures, WindowsAsTheOperatorSeesThem)
{
    const TPictureLanguage& Language = GetParam();
    testkit::PulseServer Server;

    // A jingle of distinct notes, in a programme that plays it after two seconds.
    const fs::path Clips = Root.path() / "clips";
    fs::create_directories(Clips);
    const testkit::Pcm Jingle = testkit::makeClip(7, 3.0, 0.15);
    testkit::writeWav((Clips / "jingle.wav").string(), Jingle);
    testkit::Pcm Programme = testkit::makeProgramme(9.0, 3);
    testkit::mixAt(Programme, Jingle, 2.0);
    testkit::writeWav((Clips / "programme.wav").string(), Programme);

    fs::create_directories(Data / "Ini");
    const std::string Ini = "[Ondrix]\r\nNormPos=20,20,879,619\r\nPageControl_ActivePage=SamplesSheet\r\nLogFileCreate_Checked=True\r\n"
                            "[Language]\r\nLanguage=" + std::string(Language.LanguageFile) + "\r\n";
    testkit::writeText((Data / "Ini" / "Ondrix.ini").string(), Ini);
    TSampleList Samples;
    TSampleRec* Clip = testkit::AddSample(Samples, TSampleType::File, 0, QString::fromUtf8(Language.Jingle));
    Clip->Path = Q(Clips / "jingle.wav");
    Clip->SignalMode = TSignalMode::Add;
    Clip->AutoStart = true;
    TSampleRec* Silence = testkit::AddSample(Samples, TSampleType::Silence, 1, QString::fromUtf8(Language.Silence));
    Silence->SignaldB = -50;
    Silence->SignalTime = 10;
    Silence->AutoStart = true;
    // As the dialog makes a silence sample now: by its RMS, once per episode, with a reminder.
    Silence->LevelMode = TLevelMode::Rms;
    Silence->AlarmOnce = true;
    Silence->RemindMinutes = 10;
    TSampleRec* Command = testkit::AddSample(Samples, TSampleType::Command, 2, QString::fromUtf8(Language.Command));
    Command->Command = "1,5,9";
    Command->SignalMode = TSignalMode::Add;
    ASSERT_TRUE(Samples.SaveToFile(Q(Data / "Ini" / "Samples.ini")));

    TSettings ProgramSettings(TSettingsStartup{{"/Data=" + Q(Data)}, QStringLiteral(ONDRIX_BIN_DIR "/ondrix"), [](qint64) {}});
    TOndrix Window;
    TQueuePump Pump(MainThreadQueue());
    TMonitorController Controller(ProgramSettings, *Window.Model());
    Window.AttachController(&Controller);
    // The configuration page's archive buttons, as the program binds them.
    TConfigBackupBinding Backup(Controller, ProgramSettings);
    TBackupPage BackupPage(Window, Backup);
    QStringList Messages;
    QObject::connect(&Controller, &TMonitorController::MessageAdded,
                     [&Messages](const TOndrixMessage& Message) { Messages << Message.Text; });
    Window.StartupContinue(nullptr);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Controller.Monitoring(); }));

    // Monitoring, the jingle just found while the programme still plays.
    const QString Found = FormatMessageText("SampleFound", {1, Clip->Description});
    const pid_t Player = Server.playAsync((Clips / "programme.wav").string());
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Messages.contains(Found); })) << Messages.join("\n").toStdString();
    testkit::processEventsFor(std::chrono::milliseconds(300));
    auto* Status = Window.findChild<QLabel*>("Status");
    ASSERT_NE(Status, nullptr);
    EXPECT_EQ(Status->text(), GetMessageText("On"));
    Save(&Window, "main-samples.png");
    testkit::PulseServer::waitFor(Player);

    // The settings page with each panel.
    auto* Pages = Window.findChild<QTabWidget*>("PageControl");
    auto* Tree = Window.findChild<QTreeWidget*>("Tree");
    auto* Panels = Window.findChild<QScrollArea*>("ScrollBox");
    ASSERT_TRUE(Pages && Tree && Panels);
    Pages->setCurrentIndex(1);
    const char* PanelPictures[] = {"settings-program.png", "settings-recognition.png", "settings-frequencies.png",
                                   "settings-email.png", "settings-config.png"};
    for (int Node = 0; Node < 5; ++Node) {
        Tree->setCurrentItem(Tree->topLevelItem(Node));
        if (Node == 1)
            Save(&Window, "main-settings.png");
        if (Node == 4)
            for (const char* Button : {"Button_Config_Save", "Button_Config_Load", "Button_Config_Reset"}) {
                auto* Shown = Window.findChild<QPushButton*>(Button);
                ASSERT_NE(Shown, nullptr) << Button;
                EXPECT_TRUE(Shown->isEnabled()) << Button;
            }
        Save(Panels, PanelPictures[Node]);
    }

    // The sample window on the jingle and on the silence, as the operator opens it.
    for (const auto& [Sample, Picture] : {std::pair{Clip, "sample-file.png"}, std::pair{Silence, "sample-silence.png"}}) {
        TSampleRec* Shown = Controller.Samples().FindByNumber(Sample->Number);
        ASSERT_NE(Shown, nullptr);
        // The window's own way of opening it; the picture is taken once it is up.
        QTimer::singleShot(0, &Window, [this, Name = QString(Picture)] {
            auto* Form = qobject_cast<TSamplePropertyForm*>(QApplication::activeModalWidget());
            ASSERT_NE(Form, nullptr);
            // A station's clip folder in the picture instead of the test's temporary one; the
            // length and strength shown are the real clip's.
            if (auto* File = Form->findChild<QLineEdit*>("Filename"); File && !File->text().isEmpty()) {
                const QSignalBlocker Quiet(File);
                File->setText("/srv/radio/jingles/" + QFileInfo(File->text()).fileName());
                File->setCursorPosition(0);
            }
            Save(Form, Name);
            Form->reject();
        });
        TSampleRec Copy = *Shown;
        Copy.Sequence = nullptr;
        ASSERT_TRUE(Window.EditSample);
        EXPECT_FALSE(Window.EditSample(Copy));
    }
    Controller.Disable_All_BtnClick();
}

INSTANTIATE_TEST_SUITE_P(Languages, ManualPictures, ::testing::ValuesIn(PictureLanguages),
                         [](const ::testing::TestParamInfo<TPictureLanguage>& Info) { return std::string(Info.param.Folder); });

}  // namespace
