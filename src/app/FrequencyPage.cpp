#include "app/FrequencyPage.h"

#include "samples/Form_FrequencyProp.h"
#include "widgets/Glyphs.h"
#include "widgets/KvListView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

TFrequencyPage::TFrequencyPage(TFrequencyRecArr& Table, QWidget* Parent)
    : QWidget(Parent)
    , Editor(EditFrequencyRec)
    , FTable(&Table)
{
    setObjectName(QStringLiteral("FrequencyPage"));
    auto NewButton = [this](const char* Name, const QString& Text, TGlyph Glyph) {
        auto* Button = new QToolButton(this);
        Button->setObjectName(QLatin1String(Name));
        Button->setText(Text);
        Button->setIcon(GlyphIcon(Glyph));
        Button->setIconSize(QSize(16, 16));
        Button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        Button->setAutoRaise(true);
        return Button;
    };
    AddFrequencyBtn = NewButton("AddFrequencyBtn", QStringLiteral("Добавить"), TGlyph::Add);
    DelFrequencyBtn = NewButton("DelFrequencyBtn", QStringLiteral("Удалить"), TGlyph::Delete);
    FrequencyPropBtn = NewButton("FrequencyPropBtn", QStringLiteral("Свойства"), TGlyph::Properties);

    FrequencyView = new TKvListView(this);
    FrequencyView->setObjectName(QStringLiteral("FrequencyView"));
    FrequencyView->AddColumn(QStringLiteral("Команда"), 120);
    FrequencyView->AddColumn(QStringLiteral("Частоты"), 250);
    FrequencyView->horizontalHeader()->setStretchLastSection(true);
    FrequencyView->OnCellData = [this](int Row, int Column, TKvCellData& Cell) {
        if (Row < 0 || Row >= FTable->size())
            return;
        const TFrequencyRec& Rec = FTable->at(Row);
        Cell.Text = Column == 0 ? Rec.ID : Column == 1 ? FrequencyTonesText(Rec) : QString();
    };
    FrequencyView->OnKeyDown = [this](QKeyEvent* Event) { return FrequencyViewKeyDown(Event->key(), Event->modifiers()); };

    auto* Bar = new QHBoxLayout;
    Bar->setContentsMargins(0, 0, 0, 0);
    Bar->setSpacing(2);
    Bar->addWidget(AddFrequencyBtn);
    Bar->addWidget(DelFrequencyBtn);
    Bar->addWidget(FrequencyPropBtn);
    Bar->addStretch(1);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(2);
    Layout->addLayout(Bar);
    Layout->addWidget(FrequencyView, 1);

    connect(AddFrequencyBtn, &QToolButton::clicked, this, &TFrequencyPage::AddFrequencyBtnClick);
    connect(DelFrequencyBtn, &QToolButton::clicked, this, &TFrequencyPage::DelFrequencyBtnClick);
    connect(FrequencyPropBtn, &QToolButton::clicked, this, &TFrequencyPage::FrequencyPropBtnClick);
    connect(FrequencyView, &TKvListView::RowDoubleClicked, this, &TFrequencyPage::FrequencyPropBtnClick);
    Redraw();
}

void TFrequencyPage::SetTable(TFrequencyRecArr& Table)
{
    FTable = &Table;
    Redraw();
}

void TFrequencyPage::Redraw()
{
    FrequencyView->SetRowCount(int(FTable->size()));
}

void TFrequencyPage::Changed()
{
    Redraw();
    emit TableChanged();
}

void TFrequencyPage::AddFrequencyBtnClick()
{
    TFrequencyRec Rec;
    ClearFrequencyRec(Rec);
    if (!Editor || !Editor(Rec, window()))
        return;
    AddFrequencyRec(*FTable, Rec);
    SortFrequencyTable(*FTable);
    Changed();
}

void TFrequencyPage::FrequencyPropBtnClick()
{
    // The current row when it is selected, else the first selected one.
    const QList<int> Selected = FrequencyView->SelectedRows();
    const int Current = FrequencyView->currentIndex().row();
    const int Index = Selected.contains(Current) ? Current : Selected.isEmpty() ? -1 : Selected.first();
    if (Index < 0 || Index >= FTable->size() || !Editor)
        return;
    TFrequencyRec Rec = FTable->at(Index);
    if (!Editor(Rec, window()))
        return;
    // No empty or duplicate check when editing.
    (*FTable)[Index] = Rec;
    SortFrequencyTable(*FTable);
    Changed();
}

void TFrequencyPage::DelFrequencyBtnClick()
{
    QList<int> Rows = FrequencyView->SelectedRows();
    if (Rows.isEmpty())
        return;
    // From the last row to the first, so the indexes still to go stay valid.
    std::sort(Rows.begin(), Rows.end(), std::greater<int>());
    for (int Row : Rows)
        if (Row < FTable->size())
            DeleteFrequencyRec(*FTable, Row);
    FrequencyView->clearSelection();
    Changed();
}

bool TFrequencyPage::FrequencyViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers)
{
    const bool Keypad = Modifiers & Qt::KeypadModifier;
    QToolButton* Button = nullptr;
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter)
        Button = FrequencyPropBtn;
    else if (Key == Qt::Key_Insert || (Key == Qt::Key_Plus && Keypad))
        Button = AddFrequencyBtn;
    else if (Key == Qt::Key_Delete || (Key == Qt::Key_Minus && Keypad))
        Button = DelFrequencyBtn;
    if (!Button)
        return false;
    Button->click();
    return true;
}
