#include "widgets/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QString& Caption, QWidget* Parent)
    : QGroupBox(Caption, Parent), FGroup(new QButtonGroup(this)), FLayout(new QVBoxLayout(this))
{
    FGroup->setExclusive(true);
    connect(FGroup, &QButtonGroup::idToggled, this, [this](int Id, bool Checked) {
        if (Checked)
            emit ItemIndexChanged(Id);
    });
}

void TRadioGroup::SetItems(const QStringList& Items)
{
    for (QAbstractButton* Button : FGroup->buttons()) {
        FGroup->removeButton(Button);
        delete Button;
    }
    for (int I = 0; I < Items.size(); ++I) {
        auto* Button = new QRadioButton(Items.at(I), this);
        Button->setObjectName(objectName() + "_Item" + QString::number(I));
        FGroup->addButton(Button, I);
        FLayout->addWidget(Button);
    }
}

QStringList TRadioGroup::Items() const
{
    QStringList Result;
    for (QAbstractButton* Button : FGroup->buttons())
        Result.append(Button->text());
    return Result;
}

void TRadioGroup::SetItemText(int Index, const QString& Text)
{
    if (QAbstractButton* Button = FGroup->button(Index))
        Button->setText(Text);
}

int TRadioGroup::ItemIndex() const
{
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int Index)
{
    if (Index == ItemIndex())
        return;
    if (QAbstractButton* Button = FGroup->button(Index)) {
        Button->setChecked(true);
        return;
    }
    // No item: an exclusive group cannot uncheck its last button by itself.
    FGroup->setExclusive(false);
    for (QAbstractButton* Button : FGroup->buttons())
        Button->setChecked(false);
    FGroup->setExclusive(true);
    emit ItemIndexChanged(-1);
}
