#pragma once
// The program's exception report: a dialog with the error text, Copy (text and details to the
// clipboard), Details (shows what was running when it happened) and Terminate (ends the program
// at once). Closing it any other way, or Continue, lets the program run on.

#include <QDialog>

#include <exception>

class QEvent;
class QObject;
class QPlainTextEdit;
class QPushButton;

class TExceptionDialog : public QDialog {
    Q_OBJECT

public:
    TExceptionDialog(const QString& Text, const QString& Details, QWidget* Parent = nullptr);

    const QString& Text() const { return FText; }
    const QString& Details() const { return FDetails; }
    // Text and details as they go to the clipboard.
    QString ReportText() const;
    // The operator chose Terminate.
    bool TerminateChosen() const { return FTerminate; }

private:
    QString FText;
    QString FDetails;
    QPlainTextEdit* FDetailsView = nullptr;
    bool FTerminate = false;
};

// The text of an exception: what() of a standard exception, else a fixed text.
QString ExceptionText(std::exception_ptr Error);

// Reports an exception that escaped the handling of Event by Receiver (either may be null):
// writes it to standard error and, when a screen is there, shows the report dialog. Ends the
// process with exit code 3 when the operator chooses Terminate. While one report is open a
// further exception is only written to standard error.
void ReportEscapedException(std::exception_ptr Error, const QObject* Receiver, const QEvent* Event);
