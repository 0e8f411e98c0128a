// The main window's dialogs and menus on a real monitoring controller, offscreen: the sample
// dialog adding and editing samples, the frequency command dialog from the frequency page, the
// language menu, and the settings pages' row captions (named, so tests and language files find
// them).
#include "app/FrequencyPage.h"
#include "core/SampleSequence.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"
#include "samples/Form_FrequencyProp.h"
#include "samples/Form_SampleProp.h"
#include "util/IniFile.h"
#include "widgets/KvListView.h"

#include "helpers/BoundWindow.h"
#include "helpers/Broadcast.h"
#include "helpers/ModalWatcher.h"
#include "helpers/QtWait.h"
#include "helpers/SampleLists.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testkit::BoundWindow;
using testkit::ModalWatcher;

namespace {

QStringList SampleRows(const TOndrix& Window)
{
    QStringList Rows;
    const QAbstractItemModel* Model = Window.SampleView()->model();
    for (int Row = 0; Row < Model->rowCount(); ++Row)
        Rows << Model->index(Row, 0).data().toString() + "|" + Model->index(Row, 1).data().toString();
    return Rows;
}

QString SavedSamples(const BoundWindow& Bound)
{
    return QString::fromStdString(testkit::readText((Bound.dataFolder() / "Ini" / "Samples.ini").string()));
}

TEST(OndrixWiring, SampleDialogAddsAndEditsSamplesInTheListTheFileAndTheEngine)
{
    BoundWindow Bound;
    TOndrix& Window = *Bound.window;
    TMonitorController& Controller = *Bound.controller;

    // Add: the dialog opens on a new sample numbered 1; confirmed, it joins the list and the file.
    ModalWatcher<TSamplePropertyForm> Add("SampleProp", [](TSamplePropertyForm& Form) {
        EXPECT_EQ(Form.findChild<QSpinBox*>("Edit_SampleNum")->value(), 1);
        Form.findChild<QLineEdit*>("Description")->setText("Dead air");
        Form.findChild<QRadioButton*>("Radio_Silence")->click();
        Form.findChild<QDoubleSpinBox*>("SignalTime")->setValue(5);
        Form.findChild<QPushButton*>("OkBut")->click();
    });
    Window.SampleButton("AddSample_Btn")->click();
    ASSERT_EQ(Add.seen(), 1);
    ASSERT_EQ(Controller.Samples().Count(), 1);
    EXPECT_EQ(Controller.Samples().Items(0)->Type, TSampleType::Silence);
    EXPECT_EQ(SampleRows(Window), QStringList{"1|Dead air"});
    EXPECT_TRUE(SavedSamples(Bound).contains("Dead air"));

    // Cancelled: nothing is added.
    ModalWatcher<TSamplePropertyForm> Cancel("SampleProp", [](TSamplePropertyForm& Form) {
        Form.findChild<QLineEdit*>("Description")->setText("Never");
        Form.findChild<QPushButton*>("CancelBut")->click();
    });
    QTest::keyClick(Window.SampleView(), Qt::Key_Insert);
    ASSERT_EQ(Cancel.seen(), 1);
    EXPECT_EQ(Controller.Samples().Count(), 1);
    EXPECT_FALSE(SavedSamples(Bound).contains("Never"));

    // Edit a sample that is on: the dialog shows it, and the engine takes the new time.
    Window.SampleView()->SelectRows({0});
    QTest::keyClick(Window.SampleView(), Qt::Key_Space, Qt::ControlModifier);
    TSampleRec* Sample = Controller.Samples().Items(0);
    ASSERT_TRUE(Sample->Enabled);
    ASSERT_NE(Sample->Sequence, nullptr);
    EXPECT_EQ(Sample->Sequence->Duration, 5000);
    ModalWatcher<TSamplePropertyForm> Edit("SampleProp", [](TSamplePropertyForm& Form) {
        EXPECT_EQ(Form.findChild<QLineEdit*>("Description")->text(), "Dead air");
        EXPECT_TRUE(Form.findChild<QRadioButton*>("Radio_Silence")->isChecked());
        Form.findChild<QLineEdit*>("Description")->setText("Dead air, long");
        Form.findChild<QDoubleSpinBox*>("SignalTime")->setValue(8);
        QTest::keyClick(&Form, Qt::Key_Return);
    });
    QTest::keyClick(Window.SampleView(), Qt::Key_Return);
    ASSERT_EQ(Edit.seen(), 1);
    EXPECT_EQ(SampleRows(Window), QStringList{"1|Dead air, long"});
    EXPECT_TRUE(SavedSamples(Bound).contains("Dead air, long"));
    ASSERT_NE(Controller.Samples().Items(0)->Sequence, nullptr);
    EXPECT_EQ(Controller.Samples().Items(0)->Sequence->Duration, 8000);
    EXPECT_TRUE(Controller.Monitoring());
}

// The sample dialog opened from the window shows the strength of the clip chosen, measured as
// the monitor builds it, and the reason when the clip cannot be watched.
TEST(OndrixWiring, SampleDialogShowsTheStrengthOfTheChosenClip)
{
    BoundWindow Bound;
    testkit::writeWav(Bound.root.file("jingle.wav"), testkit::playPhrase(testkit::makePhrase(3, 12, 0.15)));
    testkit::Pcm Silent;
    Silent.appendSilence(1.0);
    testkit::writeWav(Bound.root.file("silent.wav"), Silent);
    struct Case {
        const char* File;
        bool Refused;
    };
    for (const Case& C : {Case{"jingle.wav", false}, Case{"silent.wav", true}}) {
        SCOPED_TRACE(C.File);
        TSampleRec Probe;
        Probe.Type = TSampleType::File;
        Probe.Path = QString::fromStdString(Bound.root.file(C.File));
        QString Reason;
        const int Percent = SampleClipStrength(Probe, &Reason);
        ASSERT_EQ(Percent < 0, C.Refused);
        QString Shown;
        ModalWatcher<TSamplePropertyForm> Add("SampleProp", [&](TSamplePropertyForm& Form) {
            Form.findChild<QLineEdit*>("Filename")->setText(Probe.Path);
            Shown = Form.findChild<QLabel*>("Strength")->text();
            Form.findChild<QPushButton*>("CancelBut")->click();
        });
        Bound.window->SampleButton("AddSample_Btn")->click();
        ASSERT_EQ(Add.seen(), 1);
        EXPECT_EQ(Shown, C.Refused ? GetMessageText("ClipNothingToRecognise") : TSamplePropertyForm::StrengthText(Percent));
    }
}

TEST(OndrixWiring, FrequencyPageEditsTheMonitorsTableThroughTheDialog)
{
    BoundWindow Bound;
    TOndrix& Window = *Bound.window;
    TFrequencyRecArr& Table = Bound.controller->Frequencies();
    Table = {testkit::FrequencyCommand("1", {{697, 20}, {1209, 20}})};
    Window.SetFrequencyTable(&Table);
    ASSERT_EQ(Window.FrequencyView()->RowCount(), 1);

    ModalWatcher<TFrequencyProp> Add("FrequencyProp", [](TFrequencyProp& Dialog) {
        Dialog.findChild<QLineEdit*>("E_ID")->setText("#");
        Dialog.findChild<QSpinBox*>("Freq1")->setValue(941);
        Dialog.findChild<QSpinBox*>("Freq2")->setValue(1477);
        Dialog.findChild<QPushButton*>("OkBut")->click();
    });
    Window.findChild<QToolButton*>("AddFrequencyBtn")->click();
    ASSERT_EQ(Add.seen(), 1);
    ASSERT_EQ(Table.size(), 2);
    EXPECT_EQ(Table[0].ID, "#");  // sorted in
    EXPECT_EQ(Window.FrequencyView()->RowCount(), 2);
    EXPECT_EQ(Window.FrequencyView()->model()->index(0, 1).data().toString(), "941 + 1477");

    // The sample dialog's command menu offers the same table.
    TSampleRec Rec;
    TSamplePropertyForm Form(&Window, Bound.controller->Samples(), Table);
    QStringList Items;
    for (const QToolButton* Item : Form.findChild<QWidget*>("CommandMenuGrid")->findChildren<QToolButton*>())
        Items << Item->text();
    EXPECT_EQ(Items, (QStringList{"#", "1"}));
}

// A language file in the program's language folder.
void WriteLanguage(const BoundWindow& Bound, const std::string& Name, const std::string& Text)
{
    fs::create_directories(Bound.languageFolder());
    testkit::writeText((Bound.languageFolder() / Name).string(), Text);
}

TEST(OndrixWiring, LanguageMenuAppliesAFileAndGoesBackThroughARestart)
{
    BoundWindow Bound([](BoundWindow& B) {
        WriteLanguage(B, "OndrixTest.lng",
                      "[Language]\r\nLanguage=Testish\r\n"
                      "[Ondrix]\r\nOndrix.SaveSett.text=Save them\r\nOndrix.Tree.Items=Program;Capture\r\n"
                      "[Messages]\r\nDefaultDevice=The usual device\r\nNeedRestart=Restart now?\r\n");
        WriteLanguage(B, "OndrixNameless.lng", "[Language]\r\nHelpFile=x\r\n");
        // A station whose operator chose the built-in language.
        fs::create_directories(B.dataFolder() / "Ini");
        testkit::writeText((B.dataFolder() / "Ini" / "Ondrix.ini").string(), "[Language]\r\nLanguage=\r\n");
    });
    TOndrix& Window = *Bound.window;
    auto* Save = Window.findChild<QPushButton*>("SaveSett");
    auto* Device = Window.findChild<QComboBox*>("ComboBox_Device");
    EXPECT_EQ(Save->text(), QString::fromUtf8("Сохранить настройки"));

    // The built-in language, a separator and the one file with a name.
    QStringList Items;
    for (QAction* Item : Window.LanguageMenu()->actions())
        Items << (Item->isSeparator() ? QString("-") : Item->text() + (Item->isChecked() ? "*" : ""));
    EXPECT_EQ(Items, (QStringList{"Default (Russian)*", "-", "Testish"}));

    Window.LanguageMenu()->actions().at(2)->trigger();
    EXPECT_EQ(Save->text(), "Save them");
    EXPECT_EQ(Device->itemText(0), "The usual device");
    EXPECT_EQ(Window.findChild<QWidget*>("Label_Settings_Top")->property("Text").toString(), "Program");
    const TIniFile Chosen(BoundWindow::q(Bound.dataFolder() / "Ini" / "Ondrix.ini"));
    EXPECT_TRUE(Chosen.ReadString("Language", "Language", QString()).endsWith("OndrixTest.lng"));

    // Back to the built-in texts only through a restart, and only when the operator agrees.
    int Closed = 0;
    Bound.folders->CloseMainWindow = [&Closed] { ++Closed; };
    for (const bool Agree : {false, true}) {
        ModalWatcher<QMessageBox> Question("", [Agree](QMessageBox& Box) {
            EXPECT_EQ(Box.text(), "Restart now?");
            for (QAbstractButton* Button : Box.buttons())
                if (Box.buttonRole(Button) == (Agree ? QMessageBox::YesRole : QMessageBox::NoRole))
                    Button->click();
        });
        Window.LanguageMenu()->actions().at(0)->trigger();
        EXPECT_EQ(Question.seen(), 1);
        EXPECT_EQ(Closed, Agree ? 1 : 0);
        EXPECT_EQ(Bound.folders->RestartRequested, Agree);
        EXPECT_EQ(Window.LanguageMenu()->actions().at(Agree ? 0 : 2)->isChecked(), true) << Agree;
    }
    EXPECT_FALSE(Bound.folders->SkipSaveOnClose);
    const TIniFile Cleared(BoundWindow::q(Bound.dataFolder() / "Ini" / "Ondrix.ini"));
    EXPECT_EQ(Cleared.ReadString("Language", "Language", "?"), QString());
    // The translated texts stay until the program starts again; this test starts nothing.
    EXPECT_EQ(Save->text(), "Save them");
    Bound.folders->RestartRequested = false;
}

TEST(OndrixWiring, EveryFormRowCaptionHasANameOfItsOwn)
{
    TOndrix Window;
    int Rows = 0;
    for (QFormLayout* Form : Window.findChildren<QFormLayout*>()) {
        for (int Row = 0; Row < Form->rowCount(); ++Row) {
            QLayoutItem* LabelItem = Form->itemAt(Row, QFormLayout::LabelRole);
            QLayoutItem* FieldItem = Form->itemAt(Row, QFormLayout::FieldRole);
            if (!LabelItem || !FieldItem || !FieldItem->widget())
                continue;
            auto* Label = qobject_cast<QLabel*>(LabelItem->widget());
            if (!Label || Label->text().isEmpty())
                continue;
            ++Rows;
            EXPECT_TRUE(Label->objectName().startsWith("Label_")) << Label->text().toStdString();
            EXPECT_EQ(Window.findChildren<QLabel*>(Label->objectName()).size(), 1);
        }
    }
    EXPECT_GE(Rows, 10);
}

}  // namespace
