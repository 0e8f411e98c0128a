#include "widgets/KvListView.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

// The rows and columns of the view; the cells themselves come from the view's events.
class TKvListModel : public QAbstractTableModel {
public:
    struct TColumn {
        QString Caption;
        int Tag = 0;
    };

    explicit TKvListModel(TKvListView* View)
        : QAbstractTableModel(View), FView(View)
    {
    }

    int rowCount(const QModelIndex& Parent = {}) const override { return Parent.isValid() ? 0 : FRows; }
    int columnCount(const QModelIndex& Parent = {}) const override { return Parent.isValid() ? 0 : int(Columns.size()); }

    QVariant data(const QModelIndex& Index, int Role) const override
    {
        if (!Index.isValid() || !FView->OnCellData)
            return {};
        switch (Role) {
        case Qt::DisplayRole:
        case Qt::DecorationRole:
        case Qt::BackgroundRole:
        case Qt::ForegroundRole:
        case Qt::ToolTipRole:
            break;
        default:
            return {};
        }
        TKvCellData Cell;
        FView->OnCellData(Index.row(), Index.column(), Cell);
        switch (Role) {
        case Qt::DisplayRole:
            return Cell.Text;
        case Qt::ToolTipRole:
            // A text cut off by a narrow column can still be read whole.
            return Cell.Text.isEmpty() ? QVariant() : QVariant(Cell.Text);
        case Qt::DecorationRole:
            if (Cell.ImageIndex >= 0 && Cell.ImageIndex < FView->Images().size())
                return FView->Images().at(Cell.ImageIndex);
            return {};
        case Qt::BackgroundRole:
            return Cell.Background ? QVariant(QBrush(*Cell.Background)) : QVariant();
        default:
            return Cell.TextColor ? QVariant(QBrush(*Cell.TextColor)) : QVariant();
        }
    }

    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override
    {
        if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 && Section < Columns.size())
            return Columns.at(Section).Caption;
        return {};
    }

    // A column's caption set through the model (a language file's column captions).
    bool setHeaderData(int Section, Qt::Orientation Orientation, const QVariant& Value, int Role) override
    {
        if (Orientation != Qt::Horizontal || (Role != Qt::DisplayRole && Role != Qt::EditRole) || Section < 0
            || Section >= Columns.size())
            return false;
        Columns[Section].Caption = Value.toString();
        CaptionChanged(Section);
        return true;
    }

    void SetRows(int Count)
    {
        Count = std::max(0, Count);
        if (Count > FRows) {
            beginInsertRows({}, FRows, Count - 1);
            FRows = Count;
            endInsertRows();
        } else if (Count < FRows) {
            beginRemoveRows({}, Count, FRows - 1);
            FRows = Count;
            endRemoveRows();
        }
        RefreshAll();
    }

    void RefreshAll()
    {
        if (FRows > 0 && !Columns.isEmpty())
            emit dataChanged(index(0, 0), index(FRows - 1, int(Columns.size()) - 1));
    }

    void RefreshRow(int Row)
    {
        if (Row >= 0 && Row < FRows && !Columns.isEmpty())
            emit dataChanged(index(Row, 0), index(Row, int(Columns.size()) - 1));
    }

    void AddColumn(const TColumn& Column)
    {
        beginInsertColumns({}, int(Columns.size()), int(Columns.size()));
        Columns.append(Column);
        endInsertColumns();
    }

    void RemoveLastColumn()
    {
        if (Columns.isEmpty())
            return;
        beginRemoveColumns({}, int(Columns.size()) - 1, int(Columns.size()) - 1);
        Columns.removeLast();
        endRemoveColumns();
    }

    void CaptionChanged(int Column) { emit headerDataChanged(Qt::Horizontal, Column, Column); }

    QList<TColumn> Columns;

private:
    TKvListView* FView;
    int FRows = 0;
};

namespace {

// Paints a cell as usual, then lets the view's owner draw over it.
class TAfterCellDelegate : public QStyledItemDelegate {
public:
    TAfterCellDelegate(TKvListView* View)
        : QStyledItemDelegate(View), FView(View)
    {
    }

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override
    {
        QStyledItemDelegate::paint(Painter, Option, Index);
        if (FView->OnAfterCellData) {
            Painter->save();
            FView->OnAfterCellData(*Painter, Index.row(), Index.column(), Option.rect);
            Painter->restore();
        }
    }

private:
    TKvListView* FView;
};

}  // namespace

TKvListView::TKvListView(QWidget* Parent)
    : QTableView(Parent), FModel(new TKvListModel(this))
{
    setModel(FModel);
    setItemDelegate(new TAfterCellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setAlternatingRowColors(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QWidget::customContextMenuRequested, this, &TKvListView::ShowColumnMenu);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& Index) {
        emit RowDoubleClicked(Index.row());
    });
}

TKvListView::~TKvListView() = default;

void TKvListView::AddColumn(const QString& Caption, int Width, int Tag)
{
    FModel->AddColumn({Caption, Tag});
    setColumnWidth(ColumnCount() - 1, Width);
}

void TKvListView::RemoveLastColumn() { FModel->RemoveLastColumn(); }
int TKvListView::ColumnCount() const { return int(FModel->Columns.size()); }

QString TKvListView::ColumnCaption(int Column) const
{
    return Column >= 0 && Column < ColumnCount() ? FModel->Columns.at(Column).Caption : QString();
}

void TKvListView::SetColumnCaption(int Column, const QString& Caption)
{
    if (Column < 0 || Column >= ColumnCount())
        return;
    FModel->Columns[Column].Caption = Caption;
    FModel->CaptionChanged(Column);
}

int TKvListView::ColumnTag(int Column) const
{
    return Column >= 0 && Column < ColumnCount() ? FModel->Columns.at(Column).Tag : 0;
}

void TKvListView::SetColumnTag(int Column, int Tag)
{
    if (Column >= 0 && Column < ColumnCount())
        FModel->Columns[Column].Tag = Tag;
}

QList<TKvColumnLayout> TKvListView::ColumnLayout() const
{
    QList<TKvColumnLayout> Result;
    for (int C = 0; C < ColumnCount(); ++C)
        Result.append({ColumnTag(C), columnWidth(C)});
    return Result;
}

void TKvListView::SetRowCount(int Count)
{
    FModel->SetRows(Count);
    viewport()->update();
}

int TKvListView::RowCount() const { return FModel->rowCount(); }

void TKvListView::InvalidateRow(int Row)
{
    FModel->RefreshRow(Row);
}

QList<int> TKvListView::VisibleRows() const
{
    QList<int> Result;
    const int Count = RowCount();
    if (Count == 0)
        return Result;
    int First = rowAt(0);
    int Last = rowAt(viewport()->height() - 1);
    if (First < 0)
        First = 0;
    if (Last < 0)
        Last = Count - 1;
    for (int Row = First; Row <= Last; ++Row)
        Result.append(Row);
    return Result;
}

QList<int> TKvListView::SelectedRows() const
{
    QList<int> Result;
    for (const QModelIndex& Index : selectionModel()->selectedRows())
        Result.append(Index.row());
    std::sort(Result.begin(), Result.end());
    return Result;
}

void TKvListView::SelectRows(const QList<int>& Rows)
{
    QItemSelection Selection;
    for (int Row : Rows)
        if (Row >= 0 && Row < RowCount() && ColumnCount() > 0)
            Selection.select(FModel->index(Row, 0), FModel->index(Row, ColumnCount() - 1));
    selectionModel()->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Rows.isEmpty() && Rows.first() >= 0 && Rows.first() < RowCount())
        selectionModel()->setCurrentIndex(FModel->index(Rows.first(), 0), QItemSelectionModel::NoUpdate);
}

void TKvListView::SetImages(const QList<QIcon>& Images)
{
    FImages = Images;
    viewport()->update();
}

void TKvListView::keyPressEvent(QKeyEvent* Event)
{
    if (OnKeyDown && OnKeyDown(Event)) {
        Event->accept();
        return;
    }
    QTableView::keyPressEvent(Event);
}

void TKvListView::ShowColumnMenu(const QPoint& Position)
{
    QMenu Menu(this);
    int Shown = 0;
    for (int C = 0; C < ColumnCount(); ++C)
        Shown += isColumnHidden(C) ? 0 : 1;
    for (int C = 0; C < ColumnCount(); ++C) {
        QAction* Action = Menu.addAction(ColumnCaption(C).trimmed());
        Action->setCheckable(true);
        Action->setChecked(!isColumnHidden(C));
        // The last column shown stays: a view without columns could not be brought back.
        Action->setEnabled(isColumnHidden(C) || Shown > 1);
        connect(Action, &QAction::toggled, this, [this, C](bool On) { setColumnHidden(C, !On); });
    }
    Menu.exec(horizontalHeader()->viewport()->mapToGlobal(Position));
}
