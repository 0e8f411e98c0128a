// The frequency page of the settings: its rows, buttons and keys on the frequency table.

#include "app/FrequencyPage.h"
#include "widgets/KvListView.h"

#include "helpers/QtPrinters.h"
#include "helpers/SampleLists.h"

#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using testkit::FrequencyCommand;

class FrequencyPageTest : public ::testing::Test {
protected:
    TFrequencyRecArr Table{FrequencyCommand("B", {{697, 20}, {1209, 0}}), FrequencyCommand("a", {}), FrequencyCommand("C", {{1000, 5}})};
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
        const QAbstractItemModel* Model = Page.View()->model();
        for (int I = 0; I < Model->rowCount(); ++I)
            Texts.append(Model->index(I, Column).data().toString());
        return Texts;
    }
    void Select(std::initializer_list<int> RowsToSelect)
    {
        Page.View()->SelectRows(QList<int>(RowsToSelect));
    }
};

TEST_F(FrequencyPageTest, RowsShowIdentifiersAndTones)
{
    EXPECT_EQ(Rows(0), QStringList({"a", "B", "C"}));
    EXPECT_EQ(Rows(1), QStringList({"", QString::fromUtf8("697(±20) + 1209"), QString::fromUtf8("1000(±5)")}));
    EXPECT_EQ(Page.View()->ColumnCaption(0), QString::fromUtf8("Команда"));
    EXPECT_EQ(Page.View()->ColumnCaption(1), QString::fromUtf8("Частоты"));
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
        Answer = FrequencyCommand(C.ID, {{941, 0}});
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
    Answer = FrequencyCommand("a", {{1477, 10}});  // a duplicate is accepted when editing
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
        Answer = FrequencyCommand(QString("K%1").arg(Step++), {});
        Select({0});
        QTest::keyClick(Page.View(), C.Key, C.Modifiers);
        EXPECT_EQ(Page.View()->RowCount(), C.Rows) << C.Key;
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
