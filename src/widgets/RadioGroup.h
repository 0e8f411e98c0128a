#pragma once
// TRadioGroup: a framed group of radio buttons with one selected item (ItemIndex, -1 for none).

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex NOTIFY ItemIndexChanged)

public:
    explicit TRadioGroup(const QString& Caption, QWidget* Parent = nullptr);

    void SetItems(const QStringList& Items);
    QStringList Items() const;
    void SetItemText(int Index, const QString& Text);
    int ItemIndex() const;
    // Selects the item (none for an index outside the items); emits ItemIndexChanged when the
    // selection changes.
    void SetItemIndex(int Index);

signals:
    void ItemIndexChanged(int Index);

private:
    QButtonGroup* FGroup = nullptr;
    QVBoxLayout* FLayout = nullptr;
};
