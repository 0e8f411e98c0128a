#pragma once
// The configuration page's archive controls: the buttons "Сохранить в архив", "Восстановить из
// архива" and "Сброс сданных", the archive folder's chooser, and the boxes and file dialog the
// archive operations show, bound to the configuration archives of the core.

#include <QObject>
#include <QString>

#include "backup/Func_Config.h"

class QAction;
class TConfigBackupBinding;
class TOndrix;

class TBackupPage : public QObject, public TConfigBackupUI {
    Q_OBJECT

public:
    // Both outlive this object (it is a child of the window).
    TBackupPage(TOndrix& Window, TConfigBackupBinding& Backup);
    ~TBackupPage() override;

    // The chooser button inside the archive folder's edit.
    QAction* FolderDialogAction() const { return FFolderDialog; }

    void ShowInformation(const QString& Text) override;
    void ShowWarning(const QString& Text) override;
    void ShowError(const QString& Text) override;
    bool AskYesNo(const QString& Text) override;
    QString ChooseArchive(const QString& Folder, const QString& Filter) override;

    // A filter of pairs "Name|patterns|Name|patterns|" as the file dialog takes it:
    // "Name (patterns);;Name (patterns)".
    static QString DialogFilter(const QString& Filter);

private:
    void Edit_Config_BackupFolderBeforeDialog();

    TOndrix& FWindow;
    TConfigBackupBinding& FBackup;
    QAction* FFolderDialog = nullptr;
};
