// The English language file against the program itself: every key of a window's section reaches
// a component of that window, no text of the window is left in Russian once it is applied, and
// the messages section holds every message key. A control or message added later without an
// English text fails here.

#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "samples/Form_FrequencyProp.h"
#include "samples/Form_SampleProp.h"
#include "util/IniFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTabWidget>
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

}  // namespace
