#pragma once
// THeadedLabel: a heading strip, its text centred in bold white on a horizontal gradient.

#include <QColor>
#include <QWidget>

class THeadedLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)

public:
    explicit THeadedLabel(QWidget* Parent = nullptr);

    const QString& Text() const { return FText; }
    void SetText(const QString& Text);
    void SetColors(const QColor& From, const QColor& To);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QString FText;
    QColor FFrom{0, 51, 153};
    QColor FTo{102, 153, 255};
};
