#include "widgets/KvListView.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

struct ListFixture : ::testing::Test {
    TKvListView View;
    QStringList Rows{"alpha", "beta", "gamma", "delta"};
    std::set<std::pair<int, int>> DrawnAfter;

    void SetUp() override
    {
        View.AddColumn("Name", 120, 7);
        View.AddColumn("Upper", 120);
        View.OnCellData = [this](int Row, int Column, TKvCellData& Cell) {
            Cell.Text = Column == 0 ? Rows.at(Row) : Rows.at(Row).toUpper();
            if (Row == 1) {
                Cell.Background = QColor(255, 0, 0);
                Cell.TextColor = QColor(255, 255, 255);
            }
        };
        View.OnAfterCellData = [this](QPainter&, int Row, int Column, const QRect&) { DrawnAfter.insert({Row, Column}); };
        View.resize(300, 200);
        View.SetRowCount(int(Rows.size()));
    }

    QVariant Data(int Row, int Column, int Role) const { return View.model()->index(Row, Column).data(Role); }
};

TEST_F(ListFixture, CellsComeFromTheCellDataEvent)
{
    EXPECT_EQ(View.RowCount(), 4);
    EXPECT_EQ(Data(2, 0, Qt::DisplayRole).toString(), "gamma");
    EXPECT_EQ(Data(2, 1, Qt::DisplayRole).toString(), "GAMMA");
    EXPECT_EQ(Data(1, 0, Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 0, 0));
    EXPECT_EQ(Data(1, 0, Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 255, 255));
    EXPECT_FALSE(Data(0, 0, Qt::BackgroundRole).isValid());  // the view's default
    // Changed data shows once the row count is set again, even to the same count.
    Rows[2] = "changed";
    View.SetRowCount(4);
    EXPECT_EQ(Data(2, 0, Qt::DisplayRole).toString(), "changed");
    EXPECT_EQ(View.model()->headerData(0, Qt::Horizontal).toString(), "Name");
}

TEST_F(ListFixture, AfterCellDataDrawsOverPaintedCells)
{
    View.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&View));
    QTRY_VERIFY(DrawnAfter.count({3, 1}) == 1);
    EXPECT_EQ(View.VisibleRows(), (QList<int>{0, 1, 2, 3}));
}

TEST_F(ListFixture, SelectionSurvivesGrowingAndShrinking)
{
    View.SelectRows({2, 0});
    EXPECT_EQ(View.SelectedRows(), (QList<int>{0, 2}));
    Rows << "epsilon";
    View.SetRowCount(5);
    EXPECT_EQ(View.SelectedRows(), (QList<int>{0, 2}));
    Rows.removeLast();
    Rows.removeLast();
    View.SetRowCount(3);
    EXPECT_EQ(View.SelectedRows(), (QList<int>{0, 2}));
    View.SetRowCount(1);
    EXPECT_EQ(View.SelectedRows(), (QList<int>{0}));
    View.SetRowCount(0);
    EXPECT_TRUE(View.SelectedRows().isEmpty());
}

TEST_F(ListFixture, KeysGoToTheOwnerFirst)
{
    QList<int> Seen;
    View.OnKeyDown = [&](QKeyEvent* Event) {
        Seen << Event->key();
        return Event->key() == Qt::Key_Down;  // handled: the view does not move
    };
    View.SelectRows({2});
    QTest::keyClick(&View, Qt::Key_Down);
    EXPECT_EQ(View.currentIndex().row(), 2);
    QTest::keyClick(&View, Qt::Key_Up);
    EXPECT_EQ(View.currentIndex().row(), 1);
    EXPECT_EQ(Seen, (QList<int>{Qt::Key_Down, Qt::Key_Up}));
}

TEST_F(ListFixture, ColumnLayoutHoldsTagsAndWidths)
{
    View.setColumnWidth(1, 77);
    const QList<TKvColumnLayout> Layout = View.ColumnLayout();
    ASSERT_EQ(Layout.size(), 2);
    EXPECT_EQ(Layout[0].Tag, 7);
    EXPECT_EQ(Layout[0].Width, 120);
    EXPECT_EQ(Layout[1].Tag, 0);
    EXPECT_EQ(Layout[1].Width, 77);
    View.AddColumn("Extra", 40);
    View.RemoveLastColumn();
    EXPECT_EQ(View.ColumnCount(), 2);
}

}  // namespace
