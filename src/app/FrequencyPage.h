#pragma once
// The frequency page of the main window's settings: the frequency command table in the list
// FrequencyView (columns "Команда" and "Частоты") with the buttons AddFrequencyBtn,
// DelFrequencyBtn and FrequencyPropBtn and their keys. Changes stay in the table; the file is
// written when the settings are saved. Main thread only.

#include <QWidget>

#include <functional>

#include "samples/Class_Frequency.h"

class QToolButton;
class TKvListView;

class TFrequencyPage : public QWidget {
    Q_OBJECT

public:
    explicit TFrequencyPage(TFrequencyRecArr& Table, QWidget* Parent = nullptr);

    // How a record is edited: the frequency command dialog unless a test sets another.
    std::function<bool(TFrequencyRec& Rec, QWidget* Parent)> Editor;

    // Shows another table (the monitor's); redraws.
    void SetTable(TFrequencyRecArr& Table);
    TFrequencyRecArr& Table() const { return *FTable; }
    // Redraws the list: one row per entry.
    void Redraw();
    TKvListView* View() const { return FrequencyView; }

    // Enter edits, Insert and the keypad's plus add, Delete and the keypad's minus delete;
    // true when the key is one of them.
    bool FrequencyViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers);

public slots:
    void AddFrequencyBtnClick();
    void DelFrequencyBtnClick();
    void FrequencyPropBtnClick();

signals:
    // The table was changed through the page.
    void TableChanged();

private:
    void Changed();

    TFrequencyRecArr* FTable;
    TKvListView* FrequencyView;
    QToolButton* AddFrequencyBtn;
    QToolButton* DelFrequencyBtn;
    QToolButton* FrequencyPropBtn;
};
