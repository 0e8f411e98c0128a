#include "samples/Form_FrequencyProp.h"

#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "samples/Form_Common.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

TFrequencyProp::TFrequencyProp(QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName(QStringLiteral("FrequencyProp"));
    setWindowTitle(QStringLiteral("Свойства"));
    // A tool window without border icons, kept on top.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);

    auto* Grid = new QGridLayout;
    auto* Label_ID = new QLabel(QStringLiteral("Команда"));
    Label_ID->setObjectName(QStringLiteral("Label_ID"));
    E_ID = new QLineEdit;
    E_ID->setObjectName(QStringLiteral("E_ID"));
    E_ID->setMaxLength(FrequencyIDLength);
    Grid->addWidget(Label_ID, 0, 0);
    Grid->addWidget(E_ID, 0, 1, 1, 2);
    for (int I = 0; I < FrequencySlots; ++I) {
        auto* Label = new QLabel(QStringLiteral("Частота / Отклонение (Гц) "));
        Label->setObjectName(QStringLiteral("Label_Freq%1").arg(I + 1));
        Freq[I] = new QSpinBox;
        FreqDelta[I] = new QSpinBox;
        Freq[I]->setObjectName(QStringLiteral("Freq%1").arg(I + 1));
        FreqDelta[I]->setObjectName(QStringLiteral("FreqDelta%1").arg(I + 1));
        for (QSpinBox* Box : {Freq[I], FreqDelta[I]}) {
            Box->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
            Box->setMinimumWidth(Box->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 30);
        }
        Grid->addWidget(Label, I + 1, 0);
        Grid->addWidget(Freq[I], I + 1, 1);
        Grid->addWidget(FreqDelta[I], I + 1, 2);
    }
    OkBut = new QPushButton(QStringLiteral("OK"));
    OkBut->setObjectName(QStringLiteral("OkBut"));
    OkBut->setDefault(true);
    CancelBut = new QPushButton(QStringLiteral("Отмена"));
    CancelBut->setObjectName(QStringLiteral("CancelBut"));
    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(OkBut);
    Buttons->addWidget(CancelBut);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Grid);
    Layout->addLayout(Buttons);
    Layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OkBut, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);

    FLanguage = new TLanguage(this);
    FLanguage->Section = QStringLiteral("FrequencyProp");
    ApplyLanguageToWindow(this);
}

void TFrequencyProp::Fill(const TFrequencyRec& Rec)
{
    E_ID->setText(Rec.ID);
    for (int I = 0; I < FrequencySlots; ++I) {
        Freq[I]->setValue(Rec.Freq[size_t(I)]);
        FreqDelta[I]->setValue(Rec.FreqDelta[size_t(I)]);
    }
}

TFrequencyRec TFrequencyProp::Values() const
{
    // A box whose text does not parse gives 0.
    auto Number = [](const QSpinBox* Box) {
        bool Ok = false;
        const int Value = Box->locale().toInt(Box->cleanText(), &Ok);
        return Ok ? Value : 0;
    };
    TFrequencyRec Rec;
    Rec.ID = E_ID->text().left(FrequencyIDLength);
    for (int I = 0; I < FrequencySlots; ++I) {
        Rec.Freq[size_t(I)] = Number(Freq[I]);
        Rec.FreqDelta[size_t(I)] = Number(FreqDelta[I]);
    }
    return Rec;
}

bool TFrequencyProp::Execute(TFrequencyRec& Rec)
{
    Fill(Rec);
    if (exec() != QDialog::Accepted)
        return false;
    Rec = Values();
    return true;
}

void TFrequencyProp::keyPressEvent(QKeyEvent* Event)
{
    if (!ClickForDialogKey(Event, OkBut, CancelBut))
        QDialog::keyPressEvent(Event);
}

void TFrequencyProp::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    // Centred on the screen.
    move(PlaceOverWindow(nullptr, frameGeometry().size(), screen()));
}

bool EditFrequencyRec(TFrequencyRec& Rec, QWidget* Parent)
{
    TFrequencyProp Dialog(Parent);
    return Dialog.Execute(Rec);
}
