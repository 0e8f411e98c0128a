#pragma once
// The two small windows of the "About" menu: the list of changes and the about box. Both are
// modal and close with Escape or their OK button.

#include <QDialog>

class QPlainTextEdit;

// "Что нового ?": the lines of the changes file, empty when the file is missing.
class TWhatsNewForm : public QDialog {
    Q_OBJECT

public:
    explicit TWhatsNewForm(const QString& WhatsNewFile, QWidget* Parent = nullptr);
    QString ShownText() const;

private:
    QPlainTextEdit* FText = nullptr;
};

// "О программе": the program's icon, title and version.
class TAboutForm : public QDialog {
    Q_OBJECT

public:
    TAboutForm(const QString& ProductTitle, const QString& VersionText, QWidget* Parent = nullptr);
};
