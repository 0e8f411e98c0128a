// The frequency command dialog and the frequency page: what the dialog shows and writes back,
// and the page's buttons, keys and rows.

#include "samples/Form_FrequencyProp.h"

#include "helpers/QtPrinters.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

TFrequencyRec Command(const QString& ID, std::initializer_list<std::pair<int, int>> Tones)
{
    TFrequencyRec Rec;
    Rec.ID = ID;
    size_t Slot = 0;
    for (const auto& [Freq, Delta] : Tones) {
        Rec.Freq[Slot] = Freq;
        Rec.FreqDelta[Slot] = Delta;
        ++Slot;
    }
    return Rec;
}

// Runs the dialog for Rec; Act runs once it is shown and must close it.
bool RunDialog(TFrequencyRec& Rec, const std::function<void(TFrequencyProp&)>& Act)
{
    TFrequencyProp Dialog;
    QTimer::singleShot(0, &Dialog, [&] {
        Act(Dialog);
        if (Dialog.isVisible())
            Dialog.reject();
    });
    return Dialog.Execute(Rec);
}

TEST(FrequencyProp, ShowsTheRecordAndWritesBackOnlyOnOk)
{
    TFrequencyRec Rec = Command("1", {{697, 20}, {1209, 25}});
    for (int Way = 0; Way < 4; ++Way) {  // OK, Enter, Cancel, Escape
        TFrequencyRec Edited = Rec;
        const bool Confirmed = RunDialog(Edited, [&](TFrequencyProp& Dialog) {
            EXPECT_EQ(Dialog.windowTitle(), QString::fromUtf8("Свойства"));
            EXPECT_EQ(Dialog.findChild<QLineEdit*>("E_ID")->text(), "1");
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("Freq1")->value(), 697);
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("FreqDelta2")->value(), 25);
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("Freq3")->value(), 0);
            Dialog.findChild<QLineEdit*>("E_ID")->setText("#");
            Dialog.findChild<QSpinBox*>("Freq5")->setValue(-1633);  // no lower limit, nothing checked
            Dialog.findChild<QSpinBox*>("FreqDelta1")->setValue(0);
            switch (Way) {
            case 0: Dialog.findChild<QPushButton*>("OkBut")->click(); break;
            case 1: QTest::keyClick(Dialog.findChild<QLineEdit*>("E_ID"), Qt::Key_Return); break;
            case 2: Dialog.findChild<QPushButton*>("CancelBut")->click(); break;
            default: QTest::keyClick(&Dialog, Qt::Key_Escape); break;
            }
        });
        if (Way < 2) {
            EXPECT_TRUE(Confirmed) << Way;
            EXPECT_EQ(Edited, Command("#", {{697, 0}, {1209, 25}, {0, 0}, {0, 0}, {-1633, 0}})) << Way;
        } else {
            EXPECT_FALSE(Confirmed) << Way;
            EXPECT_EQ(Edited, Rec) << Way;
        }
    }
}

TEST(FrequencyProp, IdentifierIsCutTo128Characters)
{
    TFrequencyProp Dialog;
    Dialog.Fill(Command(QString(200, u'x'), {}));
    EXPECT_EQ(Dialog.Values().ID, QString(128, u'x'));
}

class FrequencyPageTest : public ::testing::Test {
protected:
    TFrequencyRecArr Table{Command("B", {{697, 20}, {1209, 0}}), Command("a", {}), Command("C", {{1000, 5}})};
    TFrequencyPage Page{Table};
    QList<TFrequencyRec> Edits;  // what the editor was given
    TFrequencyRec Answer;        // what it gives back
    bool Confirm = true;

    void SetUp() override
    {
        SortFrequencyTable(Table);
        Page.Redraw();
        Page.Editor = [this](TFrequencyRec& Rec, QWidget*) {
            Edits.append(Rec);
            if (Confirm)
                Rec = Answer;
            return Confirm;
        };
        Page.show();
    }

    QStringList Rows(int Column) const
    {
        QStringList Texts;
        for (int I = 0; I < Page.View()->topLevelItemCount(); ++I)
            Texts.append(Page.View()->topLevelItem(I)->text(Column));
        return Texts;
    }
    void Select(std::initializer_list<int> RowsToSelect)
    {
        Page.View()->clearSelection();
        for (int Row : RowsToSelect) {
            Page.View()->topLevelItem(Row)->setSelected(true);
            Page.View()->setCurrentItem(Page.View()->topLevelItem(Row), 0, QItemSelectionModel::Select);
        }
    }
};

TEST_F(FrequencyPageTest, RowsShowIdentifiersAndTones)
{
    EXPECT_EQ(Rows(0), QStringList({"a", "B", "C"}));
    EXPECT_EQ(Rows(1), QStringList({"", QString::fromUtf8("697(±20) + 1209"), QString::fromUtf8("1000(±5)")}));
    EXPECT_EQ(Page.View()->headerItem()->text(0), QString::fromUtf8("Команда"));
    EXPECT_EQ(Page.View()->headerItem()->text(1), QString::fromUtf8("Частоты"));
}

TEST_F(FrequencyPageTest, AddKeepsTheTableSortedAndRefusesDuplicates)
{
    struct Case {
        const char* ID;
        QStringList Rows;
    };
    const Case Cases[] = {
        {"b2", {"a", "B", "b2", "C"}},
        {"b2", {"a", "B", "b2", "C"}},  // already there
        {"", {"a", "B", "b2", "C"}},    // empty
        {"A", {"a", "A", "B", "b2", "C"}},
    };
    for (const Case& C : Cases) {
        Answer = Command(C.ID, {{941, 0}});
        Page.findChild<QToolButton*>("AddFrequencyBtn")->click();
        EXPECT_EQ(Rows(0), C.Rows) << C.ID;
    }
    // The editor was given a cleared record each time.
    for (const TFrequencyRec& Given : Edits)
        EXPECT_EQ(Given, TFrequencyRec());
    Confirm = false;
    Page.findChild<QToolButton*>("AddFrequencyBtn")->click();
    EXPECT_EQ(Table.size(), 5);
}

TEST_F(FrequencyPageTest, EditReplacesTheSelectedEntryWithoutChecks)
{
    Select({2});
    Answer = Command("a", {{1477, 10}});  // a duplicate is accepted when editing
    Page.findChild<QToolButton*>("FrequencyPropBtn")->click();
    ASSERT_EQ(Edits.size(), 1);
    EXPECT_EQ(Edits[0].ID, "C");
    EXPECT_EQ(Rows(0), QStringList({"a", "a", "B"}));
    EXPECT_EQ(Table.size(), 3);

    // Cancelled: nothing changes.
    Confirm = false;
    Select({0});
    Page.findChild<QToolButton*>("FrequencyPropBtn")->click();
    EXPECT_EQ(Rows(0), QStringList({"a", "a", "B"}));
}

TEST_F(FrequencyPageTest, KeysActAsTheButtons)
{
    struct Case {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        int Rows;   // rows afterwards
        int Edits;  // editor calls afterwards
    };
    const Case Cases[] = {
        {Qt::Key_Return, Qt::NoModifier, 3, 1},    // properties of the selected row
        {Qt::Key_Insert, Qt::NoModifier, 4, 2},    // add
        {Qt::Key_Plus, Qt::KeypadModifier, 5, 3},  // add
        {Qt::Key_Plus, Qt::NoModifier, 5, 3},      // the main keyboard's plus does nothing
        {Qt::Key_Delete, Qt::NoModifier, 4, 3},    // delete the selected row
        {Qt::Key_Minus, Qt::KeypadModifier, 3, 3},
        {Qt::Key_Minus, Qt::NoModifier, 3, 3},
    };
    int Step = 0;
    for (const Case& C : Cases) {
        Answer = Command(QString("K%1").arg(Step++), {});
        Select({0});
        QTest::keyClick(Page.View(), C.Key, C.Modifiers);
        EXPECT_EQ(Page.View()->topLevelItemCount(), C.Rows) << C.Key;
        EXPECT_EQ(Edits.size(), C.Edits) << C.Key;
    }
}

TEST_F(FrequencyPageTest, DeleteRemovesEverySelectedRow)
{
    Select({0, 2});
    Page.findChild<QToolButton*>("DelFrequencyBtn")->click();
    EXPECT_EQ(Rows(0), QStringList({"B"}));
    ASSERT_EQ(Table.size(), 1);
    EXPECT_EQ(Table[0].ID, "B");
}

}  // namespace
