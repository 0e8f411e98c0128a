#pragma once
// Editing one frequency command of the table: the dialog TFrequencyProp.

#include <QDialog>

#include "samples/Class_Frequency.h"

class QLineEdit;
class QPushButton;
class QSpinBox;
class TLanguage;

// One frequency command: its identifier and five tone/deviation pairs. Nothing entered is
// validated; a box whose text does not parse gives 0.
class TFrequencyProp : public QDialog {
    Q_OBJECT

public:
    explicit TFrequencyProp(QWidget* Parent = nullptr);

    // Shows the dialog modally for Rec; true when confirmed, and only then Rec is changed.
    bool Execute(TFrequencyRec& Rec);

    void Fill(const TFrequencyRec& Rec);
    // The record as the controls give it (ID cut to FrequencyIDLength characters).
    TFrequencyRec Values() const;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    QLineEdit* E_ID;
    QSpinBox* Freq[FrequencySlots];
    QSpinBox* FreqDelta[FrequencySlots];
    QPushButton* OkBut;
    QPushButton* CancelBut;
    TLanguage* FLanguage;
};

// Shows TFrequencyProp for Rec; true when the operator confirmed (Rec changed only then).
bool EditFrequencyRec(TFrequencyRec& Rec, QWidget* Parent = nullptr);
