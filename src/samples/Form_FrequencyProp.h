#pragma once
// Editing the frequency command table: the dialog for one command (TFrequencyProp) and the
// page of the main window's settings that lists the table with its Add, Delete and Properties
// buttons (TFrequencyPage).

#include <QDialog>
#include <QWidget>

#include <functional>

#include "samples/Class_Frequency.h"

class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class QTreeWidget;
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

// The frequency page: the list FrequencyView (columns "Команда" and "Частоты") and the buttons
// AddFrequencyBtn, DelFrequencyBtn and FrequencyPropBtn. Changes stay in the table; the file is
// written when the settings are saved.
class TFrequencyPage : public QWidget {
    Q_OBJECT

public:
    TFrequencyPage(TFrequencyRecArr& Table, QWidget* Parent = nullptr);

    // How a record is edited; EditFrequencyRec unless a test sets another.
    std::function<bool(TFrequencyRec& Rec, QWidget* Parent)> Editor = EditFrequencyRec;

    // Redraws the list: one row per entry.
    void Redraw();
    QTreeWidget* View() const { return FrequencyView; }

public slots:
    void AddFrequencyBtnClick();
    void DelFrequencyBtnClick();
    void FrequencyPropBtnClick();

signals:
    // The table was changed through the page.
    void TableChanged();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    TFrequencyRecArr& FTable;
    QTreeWidget* FrequencyView;
    QToolButton* AddFrequencyBtn;
    QToolButton* DelFrequencyBtn;
    QToolButton* FrequencyPropBtn;
};
