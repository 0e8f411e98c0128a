// The main window's controls and the settings model, both ways, and saving what was edited.
#include "app/Ondrix_Unit.h"
#include "app/SettingsBinding.h"
#include "core/Common_Settings.h"
#include "core/SettingsModel.h"
#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"
#include "widgets/RadioGroup.h"

#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

TEST(SettingsBindingTest, KeysNameAControlAndAProperty)
{
    struct Case {
        const char* Key;
        const char* Component;
        const char* Property;
    };
    for (const Case& C : {Case{"LogCount_Value", "LogCount", "Value"},
                          Case{"Check_EMail_UseSSL_Checked", "Check_EMail_UseSSL", "Checked"},
                          Case{"PageControl_Email_ActivePage", "PageControl_Email", "ActivePage"},
                          Case{"NormPos", "", ""}, Case{"Device", "", ""}}) {
        const TSettingBinding Binding = SplitSettingKey(C.Key);
        EXPECT_EQ(Binding.Component, C.Component) << C.Key;
        EXPECT_EQ(Binding.Property, C.Property) << C.Key;
    }
}

TEST(SettingsBindingTest, EveryStoredPropertyHasItsControl)
{
    TOndrix Window;
    EXPECT_TRUE(Window.Binding()->UnboundKeys().isEmpty()) << Window.Binding()->UnboundKeys().join(",").toStdString();
    EXPECT_GE(Window.Binding()->BoundKeys().size(), 30);
}

TEST(SettingsBindingTest, ModelValuesShowInTheirControls)
{
    TOndrix Window;
    TSettingsModel& Model = *Window.Model();
    auto Child = [&](const char* Name) { return Window.findChild<QWidget*>(Name); };
    // The defaults are what the controls show at first.
    EXPECT_EQ(qobject_cast<QSpinBox*>(Child("LogCount"))->value(), 30);
    EXPECT_TRUE(qobject_cast<QCheckBox*>(Child("Check_AutoUpdates"))->isChecked());
    EXPECT_EQ(qobject_cast<QLineEdit*>(Child("SMTPPortEdit"))->text(), "25");

    Model.SetFloat(SettingKey::LogCount_Value, 12.9);  // cut toward zero
    EXPECT_EQ(qobject_cast<QSpinBox*>(Child("LogCount"))->value(), 12);
    Model.SetFloat(SettingKey::LogCount_Value, 500000);  // beyond the control's range
    EXPECT_EQ(qobject_cast<QSpinBox*>(Child("LogCount"))->value(), 99999);
    Model.SetBool(SettingKey::LogFileCreate_Checked, true);
    EXPECT_TRUE(qobject_cast<QCheckBox*>(Child("LogFileCreate"))->isChecked());
    Model.SetText(SettingKey::SMTPHostEdit_Text, "smtp.example");
    EXPECT_EQ(qobject_cast<QLineEdit*>(Child("SMTPHostEdit"))->text(), "smtp.example");
    Model.SetInt(SettingKey::ProgIcon_ItemIndex, 1);
    EXPECT_EQ(qobject_cast<TRadioGroup*>(Child("ProgIcon"))->ItemIndex(), 1);
    Model.SetFloat(SettingKey::Edit_Config_Backup_Time_Time, 0.75);
    EXPECT_EQ(qobject_cast<QTimeEdit*>(Child("Edit_Config_Backup_Time"))->time(), QTime(18, 0));
    Model.SetText(SettingKey::PageControl_ActivePage, "SettingsSheet");
    EXPECT_EQ(qobject_cast<QTabWidget*>(Child("PageControl"))->currentWidget()->objectName(), "SettingsSheet");
    Model.SetText(SettingKey::PageControl_ActivePage, "(null)");  // no such page: stays
    EXPECT_EQ(qobject_cast<QTabWidget*>(Child("PageControl"))->currentWidget()->objectName(), "SettingsSheet");
    Model.SetText(SettingKey::PageControl_Email_ActivePage, "Tab_Email_Server");
    EXPECT_EQ(qobject_cast<QTabWidget*>(Child("PageControl_Email"))->currentWidget()->objectName(), "Tab_Email_Server");
    Model.SetFloat(SettingKey::Led_PositionMin, -48);
    EXPECT_DOUBLE_EQ(Window.Led()->PositionMin(), -48);
    Model.SetFloat(SettingKey::Led_PositionMin, 5);  // above the top of the scale: kept
    EXPECT_DOUBLE_EQ(Window.Led()->PositionMin(), -48);
    // Restoring the subject switch also sets what depends on it.
    Model.SetBool(SettingKey::MsgSubjectCheck_Checked, false);
    EXPECT_TRUE(Child("Edit_Email_Subject")->isEnabled());
}

// A data folder of its own and the program's settings object on it.
struct SavedSettingsFixture : ::testing::Test {
    testkit::TempDir Root;
    fs::path Data = Root.path() / "Station";
    std::unique_ptr<TSettings> Folders;

    void SetUp() override
    {
        fs::create_directories(Root.path() / "prog");
        Folders = std::make_unique<TSettings>(
            TSettingsStartup{{"/Data=" + Q(Data)}, Q(Root.path() / "prog" / "ondrix"), [](qint64) {}});
    }
    std::string Ini() const { return testkit::readText((Data / "Ini" / "Ondrix.ini").string()); }
};

TEST_F(SavedSettingsFixture, EditsInControlsReachTheModelAndAreSaved)
{
    {
        TOndrix Window;
        Window.StartupContinue(nullptr);
        auto* Count = Window.findChild<QSpinBox*>("LogCount");
        Count->selectAll();
        QTest::keyClicks(Count, "77");
        Count->interpretText();
        EXPECT_DOUBLE_EQ(Window.Model()->Float(SettingKey::LogCount_Value), 77);
        Window.findChild<QCheckBox*>("LogFileCreate")->click();
        EXPECT_TRUE(Window.Model()->Bool(SettingKey::LogFileCreate_Checked));
        QTest::keyClicks(Window.findChild<QLineEdit*>("SMTPHostEdit"), "mail.example");
        EXPECT_EQ(Window.Model()->Text(SettingKey::SMTPHostEdit_Text), "mail.example");
        Window.findChild<QCheckBox*>("Check_EMail_UseSSL")->click();  // also sets the port
        EXPECT_EQ(Window.Model()->Text(SettingKey::SMTPPortEdit_Text), "465");
        Window.findChild<QTabWidget*>("PageControl")->setCurrentIndex(1);
        Window.findChild<QPushButton*>("SaveSett")->click();
        const std::string Saved = Ini();
        for (const char* Line : {"LogCount_Value=77\r\n", "LogFileCreate_Checked=True\r\n", "SMTPHostEdit_Text=mail.example\r\n",
                                 "SMTPPortEdit_Text=465\r\n", "PageControl_ActivePage=SettingsSheet\r\n", "ShowCmd=1\r\n"})
            EXPECT_NE(Saved.find(Line), std::string::npos) << Line << "\n" << Saved;
        Window.resize(640, 480);
        Window.close();  // closing saves again
    }
    EXPECT_NE(Ini().find("NormPos="), std::string::npos);

    // The next start shows what was saved.
    TOndrix Again;
    Again.StartupContinue(nullptr);
    EXPECT_EQ(Again.findChild<QSpinBox*>("LogCount")->value(), 77);
    EXPECT_TRUE(Again.findChild<QCheckBox*>("LogFileCreate")->isChecked());
    EXPECT_EQ(Again.findChild<QLineEdit*>("SMTPHostEdit")->text(), "mail.example");
    EXPECT_EQ(Again.findChild<QTabWidget*>("PageControl")->currentWidget()->objectName(), "SettingsSheet");
    Again.close();
}

}  // namespace
