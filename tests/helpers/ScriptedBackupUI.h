#pragma once
// The boxes and the file dialog of the configuration archives, answered from a script: the
// seam where the window's modal dialogs would wait for an operator. What was shown is kept.

#include "backup/Func_Config.h"

#include <QString>
#include <QStringList>

namespace testkit {

class ScriptedBackupUI : public TConfigBackupUI {
public:
    QString Archive;          // the file the dialog returns
    bool Answer = true;       // the answer to every question
    QStringList Shown;        // "information: ...", "warning: ...", "error: ...", "question: ...", "dialog"
    QString DialogFolder;
    QString DialogFilter;

    void ShowInformation(const QString& Text) override { Shown << "information: " + Text; }
    void ShowWarning(const QString& Text) override { Shown << "warning: " + Text; }
    void ShowError(const QString& Text) override { Shown << "error: " + Text; }
    bool AskYesNo(const QString& Text) override
    {
        Shown << "question: " + Text;
        return Answer;
    }
    QString ChooseArchive(const QString& Folder, const QString& Filter) override
    {
        DialogFolder = Folder;
        DialogFilter = Filter;
        Shown << "dialog";
        return Archive;
    }
};

}  // namespace testkit
