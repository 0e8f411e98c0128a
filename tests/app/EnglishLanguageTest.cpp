// The English language file against the program itself: every key of a window's section reaches
// a component of that window, no text of the window (main window, dialogs, small windows) is
// left in Russian once it is applied, and the messages section holds every message key. A
// control or message added later without an English text fails here.

#include "app/InfoForms.h"
#include "app/Ondrix_Unit.h"
#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "samples/Form_FrequencyProp.h"
#include "samples/Form_SampleProp.h"
#include "util/IniFile.h"
#include "widgets/ExceptionReport.h"

#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"
#include "helpers/XvfbDisplay.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString EnglishFile = QStringLiteral(ONDRIX_BIN_DIR "/Language/OndrixEnglish.lng");

bool HasCyrillic(const QString& Text)
{
    static const QRegularExpression Cyrillic(QStringLiteral("\\p{Cyrillic}"));
    return Text.contains(Cyrillic);
}

// Every text an operator can see on the window and its components (hidden panels included,
// since another sample type shows them): captions, titles, hints, items, column headers, tabs,
// menus.
QStringList VisibleTexts(QWidget* Window)
{
    QStringList Texts;
    auto Add = [&](const QObject* Owner, const QString& What, const QString& Text) {
        if (!Text.isEmpty())
            Texts.append(Owner->objectName() + "." + What + " = " + Text);
    };
    QList<QWidget*> Widgets = Window->findChildren<QWidget*>();
    Widgets.prepend(Window);
    for (QWidget* Widget : Widgets) {
        if (Widget != Window && Widget->isWindow() && !qobject_cast<QMenu*>(Widget))
            continue;  // another window, checked on its own
        if (Widget == Window)
            Add(Widget, "windowTitle", Widget->windowTitle());
        Add(Widget, "toolTip", Widget->toolTip());
        if (auto* Label = qobject_cast<QLabel*>(Widget))
            Add(Widget, "text", Label->text());
        if (auto* Button = qobject_cast<QAbstractButton*>(Widget))
            Add(Widget, "text", Button->text());
        if (auto* Group = qobject_cast<QGroupBox*>(Widget))
            Add(Widget, "title", Group->title());
        if (auto* Edit = qobject_cast<QLineEdit*>(Widget))
            Add(Widget, "placeholderText", Edit->placeholderText());
        if (auto* Combo = qobject_cast<QComboBox*>(Widget))
            for (int I = 0; I < Combo->count(); ++I)
                Add(Widget, "item", Combo->itemText(I));
        if (auto* View = qobject_cast<QAbstractItemView*>(Widget); View && View->model())
            for (int I = 0; I < View->model()->columnCount(); ++I)
                Add(Widget, "column", View->model()->headerData(I, Qt::Horizontal).toString());
        if (auto* Tree = qobject_cast<QTreeWidget*>(Widget))
            for (int I = 0; I < Tree->topLevelItemCount(); ++I)
                Add(Widget, "node", Tree->topLevelItem(I)->text(0));
        if (auto* Tabs = qobject_cast<QTabWidget*>(Widget))
            for (int I = 0; I < Tabs->count(); ++I)
                Add(Widget, "tab", Tabs->tabText(I));
        if (auto* Menu = qobject_cast<QMenu*>(Widget))
            Add(Widget, "title", Menu->title());
        // Texts of the program's own components (headed label, level meter's menu).
        Add(Widget, "Text", Widget->property("Text").toString());
        for (const QString& Item : Widget->property("MenuItems").toStringList())
            Add(Widget, "MenuItems", Item);
        for (QAction* Action : Widget->actions()) {
            Add(Action, "text", Action->text());
            Add(Action, "toolTip", Action->toolTip() == QString(Action->text()).remove(u'&') ? QString()
                                                                                          : Action->toolTip());
        }
    }
    return Texts;
}

// Applies the English file to Window through its language component. Returns the keys of the
// window's section that reached no component or property.
QStringList ApplyEnglish(QWidget* Window)
{
    TLanguage* Language = FindLanguageComponent(Window);
    EXPECT_NE(Language, nullptr);
    if (!Language)
        return {};
    QStringList Applied;
    Language->OnLoadLanguage = [&](TLanguage&, QObject* Component, QString&, const QString&, const QString& Path) {
        Applied.append(Component->objectName() + "." + Path);
    };
    Language::SetChosenFile(EnglishFile);
    ApplyLanguageToWindow(Window);
    Language->OnLoadLanguage = nullptr;

    QStringList Unused;
    const TIniFile Ini(EnglishFile);
    for (const auto& [Key, Value] : Ini.ReadSectionValues(Language->Section)) {
        QStringList Segments = Key.split(u'.');
        Segments.removeFirst();
        const QString Target = Segments.size() == 1 ? Window->objectName() + "." + Segments[0] : Segments.join(u'.');
        if (!Applied.contains(Target, Qt::CaseInsensitive))
            Unused.append(Key);
    }
    return Unused;
}

class EnglishLanguage : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMessageTable();
        Language::ResetLanguages();
    }
    void TearDown() override
    {
        Language::ResetLanguages();
        ResetMessageTable();
    }

    void CheckWindow(QWidget* Window)
    {
        EXPECT_EQ(ApplyEnglish(Window), QStringList()) << "keys that reach nothing";
        QStringList Russian;
        for (const QString& Text : VisibleTexts(Window))
            if (HasCyrillic(Text))
                Russian.append(Text);
        EXPECT_EQ(Russian, QStringList()) << "texts left untranslated";
    }
};

TEST_F(EnglishLanguage, FileIsListedUnderItsName)
{
    const Language::TLanguageList List = Language::ListLanguageFiles(QStringLiteral(ONDRIX_BIN_DIR "/Language"));
    ASSERT_TRUE(List.Files.contains(EnglishFile));
    EXPECT_EQ(List.Names.at(List.Files.indexOf(EnglishFile)), "English");
}

TEST_F(EnglishLanguage, TranslatesTheSampleDialogCompletely)
{
    TSampleList List;
    TFrequencyRecArr Table;
    TSamplePropertyForm Form(nullptr, List, Table);
    CheckWindow(&Form);
}

TEST_F(EnglishLanguage, TranslatesTheFrequencyDialogCompletely)
{
    TFrequencyProp Dialog;
    CheckWindow(&Dialog);
}

TEST_F(EnglishLanguage, TranslatesTheMainWindowCompletely)
{
    TOndrix Window;
    Language::InitLanguages(QStringLiteral(ONDRIX_BIN_DIR), QStringLiteral(ONDRIX_BIN_DIR "/Language"),
                            Window.Language(), QString(), "en_US");
    CheckWindow(&Window);

    // What the window builds from the texts after loading: the first device entry, the settings
    // header, the sample view's pop-up menu (the hints' first lines).
    EXPECT_EQ(Window.findChild<QComboBox*>("ComboBox_Device")->itemText(0), "Default recording device");
    EXPECT_EQ(Window.findChild<QWidget*>("Label_Settings_Top")->property("Text").toString(), "Program");
    Window.SamplePopupPopup();
    QStringList Popup;
    for (QAction* Item : Window.SamplePopup()->actions())
        if (!Item->isSeparator())
            Popup << Item->text();
    EXPECT_EQ(Popup, QStringList({"Add sample", "Delete sample", "Sample properties", "Switch sample on/off",
                                  "Switch sample on", "Switch sample off", "Switch all samples on",
                                  "Switch all samples off", "Simulate a detection"}));
}

TEST_F(EnglishLanguage, TranslatesTheSmallWindowsCompletely)
{
    // Their captions and buttons partly come from the message table, which the main window's
    // component has already switched.
    TLanguage Global;
    Language::InitLanguages(QStringLiteral(ONDRIX_BIN_DIR), QStringLiteral(ONDRIX_BIN_DIR "/Language"), &Global,
                            QString(), "en_US");
    TWhatsNewForm WhatsNew(QStringLiteral("/nonexistent/WhatsNew.txt"));
    TAboutForm About(QStringLiteral("ONDRIX"), QStringLiteral("1.2.3"));
    TExceptionDialog Report(QStringLiteral("Boom"), QStringLiteral("Details"));
    for (QWidget* Window : std::initializer_list<QWidget*>{&WhatsNew, &About, &Report}) {
        SCOPED_TRACE(Window->objectName().toStdString());
        CheckWindow(Window);
    }
    EXPECT_EQ(Report.windowTitle(), "Error");
}

// The language menu on the main window: switching between two language files and back, the
// first device entry is always the current language's text and the devices after it are
// untouched; going back to the built-in language needs the restart the operator agrees to.
TEST_F(EnglishLanguage, SwitchingLanguagesKeepsTheFirstDeviceEntryTranslated)
{
    testkit::TempDir Folder;
    const QString Dir = QString::fromStdString(Folder.path().string());
    ASSERT_TRUE(QFile::copy(EnglishFile, Dir + "/OndrixEnglish.lng"));
    testkit::writeText(Folder.file("OndrixTest.lng"), "[Language]\r\nLanguage=Test\r\n"
                                                      "[Ondrix]\r\nOndrix.SaveSett.text=Store\r\n"
                                                      "[Messages]\r\nDefaultDevice=Test default device\r\n");
    const QString Ini = Dir + "/Ondrix.ini";
    testkit::writeText(Ini.toStdString(), "[Language]\r\nLanguage=\r\n");

    TOndrix Window;
    auto* Devices = Window.findChild<QComboBox*>("ComboBox_Device");
    Devices->addItem("Monitor of Null Output");
    Devices->setCurrentIndex(1);
    Language::InitLanguages(Dir, Dir, Window.Language(), Ini);
    ASSERT_EQ(Language::ChosenFile(), QString());
    bool Answer = false;
    int Restarts = 0;
    FillLanguageMenu(Window.LanguageMenu(), {[&](const QString&) { return Answer; }, [&] { ++Restarts; }});
    auto Item = [&](const char* Name) { return Window.LanguageMenu()->findChild<QAction*>(Name); };
    ASSERT_NE(Item("MLanguage1"), nullptr);
    ASSERT_NE(Item("MLanguage2"), nullptr);
    EXPECT_EQ(Item("MLanguage1")->text(), "English");
    EXPECT_EQ(Item("MLanguage2")->text(), "Test");

    struct Step {
        const char* Item;
        bool Answer;
        const char* FirstEntry;
        const char* Checked;
    };
    const Step Steps[] = {
        {"MLanguage1", false, "Default recording device", "MLanguage1"},
        {"MLanguage2", false, "Test default device", "MLanguage2"},
        {"MLanguage1", false, "Default recording device", "MLanguage1"},
        // The built-in language, declined: nothing changes.
        {"MLanguageDefault", false, "Default recording device", "MLanguage1"},
    };
    for (const Step& S : Steps) {
        SCOPED_TRACE(S.Item);
        Answer = S.Answer;
        Item(S.Item)->trigger();
        EXPECT_EQ(Devices->itemText(0), S.FirstEntry);
        EXPECT_EQ(Devices->itemText(1), "Monitor of Null Output");
        EXPECT_EQ(Devices->currentIndex(), 1);
        EXPECT_TRUE(Item(S.Checked)->isChecked());
    }
    EXPECT_EQ(Restarts, 0);
    EXPECT_EQ(TIniFile(Ini).ReadString("Language", "Language", QString()), "OndrixEnglish.lng");

    // Accepted: the choice is cleared and saved, and the program restarts.
    Answer = true;
    Item("MLanguageDefault")->trigger();
    EXPECT_EQ(Restarts, 1);
    EXPECT_EQ(Language::ChosenFile(), QString());
    EXPECT_TRUE(TIniFile(Ini).ValueExists("Language", "Language"));
    EXPECT_EQ(TIniFile(Ini).ReadString("Language", "Language", "x"), QString());
}

TEST_F(EnglishLanguage, HasEveryMessageAndNoUnknownOne)
{
    const TIniFile Ini(EnglishFile);
    QStringList English;
    for (const auto& [Key, Text] : Ini.ReadSectionValues("Messages")) {
        English.append(Key);
        EXPECT_FALSE(Text.isEmpty()) << Key.toStdString();
        EXPECT_FALSE(HasCyrillic(Text)) << Key.toStdString();
    }
    // Keys the program looks up without a built-in text.
    const QStringList Extra = {"AllFiles"};
    QStringList Known = Extra;
    for (const QString& Line : BuiltInMessageStrings())
        Known.append(Line.section(u'=', 0, 0));
    for (const QString& Key : Known)
        EXPECT_TRUE(English.contains(Key)) << "no English text for " << Key.toStdString();
    for (const QString& Key : English)
        EXPECT_TRUE(Known.contains(Key)) << "unknown message key " << Key.toStdString();

    // Placeholders match the built-in texts, so formatting gives the same arguments.
    TLanguage Global;
    Language::InitLanguages(QStringLiteral(ONDRIX_BIN_DIR), QStringLiteral(ONDRIX_BIN_DIR "/Language"), &Global,
                            QString(), "en_US");
    ASSERT_EQ(Language::ChosenFile(), EnglishFile);
    static const QRegularExpression Placeholder(QStringLiteral("%[ds]"));
    for (const QString& Line : BuiltInMessageStrings()) {
        const QString Key = Line.section(u'=', 0, 0);
        QStringList Built, Translated;
        for (auto It = Placeholder.globalMatch(Line.section(u'=', 1)); It.hasNext();)
            Built.append(It.next().captured());
        for (auto It = Placeholder.globalMatch(GetMessageText(Key)); It.hasNext();)
            Translated.append(It.next().captured());
        EXPECT_EQ(Translated, Built) << Key.toStdString();
    }
    EXPECT_EQ(GetMessageText("LoadSettingsError"),
              "Some settings could not be loaded.\nThe program may not work as expected.\nContinue?");
}

// Controls whose text does not fit: a label, button or group smaller than its text and content
// need, so part of it is cut off.
QStringList CutTexts(QWidget* Root)
{
    QStringList Cut;
    for (QWidget* Widget : Root->findChildren<QWidget*>()) {
        if (Widget->isWindow() || !Widget->isVisibleTo(Root))
            continue;
        if (!qobject_cast<QLabel*>(Widget) && !qobject_cast<QAbstractButton*>(Widget) && !qobject_cast<QGroupBox*>(Widget))
            continue;
        if (qobject_cast<QLineEdit*>(Widget->parentWidget()))
            continue;  // an edit's own side button (a chooser's icon), sized by the edit
        const QSize Needed = Widget->minimumSizeHint();
        if (Widget->width() < Needed.width() || Widget->height() < Needed.height())
            Cut << QStringLiteral("%1 %2x%3 < %4x%5")
                       .arg(Widget->objectName())
                       .arg(Widget->width())
                       .arg(Widget->height())
                       .arg(Needed.width())
                       .arg(Needed.height());
    }
    return Cut;
}

// Every window in both languages at its own size (the main window at its default size, on each
// page and settings panel): no text is cut off. With ONDRIX_SCREENSHOTS set, each view is saved
// there as a picture to look at.
TEST_F(EnglishLanguage, TextsFitTheirControlsInBothLanguages)
{
    const char* Shots = std::getenv("ONDRIX_SCREENSHOTS");
    const std::string Folder = Shots && *Shots ? testkit::XvfbDisplay::screenshotFolder(Shots) : std::string();
    testkit::TempDir Dir;
    testkit::writeBytes(Dir.file("Jingle.wav"), {0});

    for (const QString& File : {QString(), EnglishFile}) {
        const std::string Language = File.isEmpty() ? "russian" : "english";
        ResetMessageTable();
        Language::ResetLanguages();
        TLanguage Global;
        Language::InitLanguages(QStringLiteral(ONDRIX_BIN_DIR), QStringLiteral(ONDRIX_BIN_DIR "/Language"), &Global,
                                QString(), File.isEmpty() ? "ru_RU" : "en_US");
        // Checks one view of a window and saves its picture.
        auto Look = [&](QWidget* Window, const std::string& Name) {
            SCOPED_TRACE(Language + " " + Name);
            QApplication::processEvents();
            EXPECT_EQ(CutTexts(Window), QStringList());
            if (!Folder.empty())
                Window->grab().save(QString::fromStdString(Folder + "/" + Language + "-" + Name + ".png"));
        };

        TOndrix Main;
        ApplyLanguageToWindow(&Main);
        Main.show();
        auto* Pages = Main.findChild<QTabWidget*>("PageControl");
        Look(&Main, "main-samples");
        Pages->setCurrentIndex(1);
        auto* Tree = Main.findChild<QTreeWidget*>("Tree");
        for (int I = 0; I < Tree->topLevelItemCount(); ++I) {
            Tree->setCurrentItem(Tree->topLevelItem(I));
            Look(&Main, "main-settings-" + std::to_string(I));
        }
        auto* Email = Main.findChild<QTabWidget*>("PageControl_Email");
        Tree->setCurrentItem(Tree->topLevelItem(3));
        Email->setCurrentIndex(1);
        Look(&Main, "main-settings-3-server");
        Main.hide();

        TSampleList List;
        TFrequencyRecArr Table;
        TSamplePropertyForm Sample(nullptr, List, Table);
        Sample.SetClipStrength([](const TSampleRec&, QString*) { return 35; });
        Sample.findChild<QLineEdit*>("Filename")->setText(QString::fromStdString(Dir.file("Jingle.wav")));
        Sample.show();
        const char* const Types[] = {"Radio_File", "Radio_Silence", "Radio_Signal", "Radio_Command"};
        for (const char* Type : Types) {
            Sample.findChild<QRadioButton*>(Type)->click();
            Look(&Sample, std::string("sample-") + Type);
        }
        Sample.hide();

        TFrequencyProp Frequency;
        TWhatsNewForm WhatsNew(QStringLiteral("/nonexistent/WhatsNew.txt"));
        TAboutForm About(QStringLiteral("ONDRIX"), QStringLiteral("1.2.3"));
        TExceptionDialog Report(QStringLiteral("Something went wrong"), QStringLiteral("Exception: std::runtime_error"));
        Report.findChild<QPushButton*>("Button_Details")->click();
        for (QWidget* Window : std::initializer_list<QWidget*>{&Frequency, &WhatsNew, &About, &Report}) {
            Window->show();
            Look(Window, Window->objectName().toStdString());
            Window->hide();
        }
    }
}

}  // namespace
