#pragma once
// TKvListView: a list view in report style whose cells are not stored in it: every cell's text,
// image and colours come from the OnCellData event at the moment the cell is shown, and
// OnAfterCellData may draw over a cell once it is painted. The owner only says how many rows
// there are (SetRowCount, which also repaints). Rows are selected whole, several at a time.
// A right click on the header offers the columns to show or hide.

#include <QColor>
#include <QIcon>
#include <QList>
#include <QTableView>

#include <functional>
#include <optional>

class QPainter;
class TKvListModel;

// What one cell shows.
struct TKvCellData {
    QString Text;
    int ImageIndex = -1;  // index into the view's images; -1 for none
    std::optional<QColor> Background;
    std::optional<QColor> TextColor;
};

// One column as it is stored in a column layout: its tag and width.
struct TKvColumnLayout {
    int Tag = 0;
    int Width = 0;
};

class TKvListView : public QTableView {
    Q_OBJECT

public:
    using TCellDataEvent = std::function<void(int Row, int Column, TKvCellData& Data)>;
    using TAfterCellDataEvent = std::function<void(QPainter& Painter, int Row, int Column, const QRect& Rect)>;
    // Returns true when it handled the key (the view then does nothing more with it).
    using TKeyDownEvent = std::function<bool(QKeyEvent* Event)>;

    explicit TKvListView(QWidget* Parent = nullptr);
    ~TKvListView() override;

    TCellDataEvent OnCellData;
    TAfterCellDataEvent OnAfterCellData;
    TKeyDownEvent OnKeyDown;

    void AddColumn(const QString& Caption, int Width, int Tag = 0);
    void RemoveLastColumn();
    int ColumnCount() const;
    QString ColumnCaption(int Column) const;
    void SetColumnCaption(int Column, const QString& Caption);
    int ColumnTag(int Column) const;
    void SetColumnTag(int Column, int Tag);

    // The layout to store: tag and width of every column, in order.
    QList<TKvColumnLayout> ColumnLayout() const;

    // Sets the number of rows and repaints every visible cell (also when the count stays).
    void SetRowCount(int Count);
    int RowCount() const;
    // Repaints one row (its cells are asked again).
    void InvalidateRow(int Row);
    // Rows at least partly visible, in order.
    QList<int> VisibleRows() const;

    // Selected rows in ascending order.
    QList<int> SelectedRows() const;
    void SelectRows(const QList<int>& Rows);

    void SetImages(const QList<QIcon>& Images);
    const QList<QIcon>& Images() const { return FImages; }

signals:
    // A row was double-clicked.
    void RowDoubleClicked(int Row);

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void ShowColumnMenu(const QPoint& Position);

    TKvListModel* FModel = nullptr;
    QList<QIcon> FImages;
};
