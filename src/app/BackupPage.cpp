#include "app/BackupPage.h"

#include "app/Ondrix_Unit.h"
#include "core/ConfigBackupBinding.h"
#include "lang/Lang.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString Lines(QString Text)
{
    return Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

TBackupPage::TBackupPage(TOndrix& Window, TConfigBackupBinding& Backup)
    : QObject(&Window), FWindow(Window), FBackup(Backup)
{
    FBackup.SetUI(this);
    const auto Button = [&Window](const char* Name) { return Window.findChild<QPushButton*>(QLatin1String(Name)); };
    if (QPushButton* Save = Button("Button_Config_Save")) {
        Save->setEnabled(true);
        connect(Save, &QPushButton::clicked, this, [this] { FBackup.Button_Config_SaveClick([this] { FWindow.SaveSettings(); }); });
    }
    if (QPushButton* Load = Button("Button_Config_Load")) {
        Load->setEnabled(true);
        connect(Load, &QPushButton::clicked, this, [this] { FBackup.Button_Config_LoadClick(); });
    }
    if (QPushButton* Reset = Button("Button_Config_Reset")) {
        Reset->setEnabled(true);
        connect(Reset, &QPushButton::clicked, this, [this] { FBackup.Button_Config_ResetClick(); });
    }
    FFolderDialog = Window.findChild<QAction*>(QStringLiteral("Edit_Config_BackupFolder_Dialog"));
    if (FFolderDialog) {
        FFolderDialog->setEnabled(true);
        connect(FFolderDialog, &QAction::triggered, this, &TBackupPage::Edit_Config_BackupFolderBeforeDialog);
    }
}

TBackupPage::~TBackupPage()
{
    FBackup.SetUI(nullptr);
}

void TBackupPage::Edit_Config_BackupFolderBeforeDialog()
{
    const QString Chosen = QFileDialog::getExistingDirectory(&FWindow, FFolderDialog->text(), FBackup.BackupFolderDialogStart());
    FBackup.BackupFolderChosen(Chosen);
}

void TBackupPage::ShowInformation(const QString& Text)
{
    QMessageBox::information(&FWindow, GetMessageText(QStringLiteral("Information")), Lines(Text));
}

void TBackupPage::ShowWarning(const QString& Text)
{
    QMessageBox::warning(&FWindow, GetMessageText(QStringLiteral("Warning")), Lines(Text));
}

void TBackupPage::ShowError(const QString& Text)
{
    QMessageBox::critical(&FWindow, GetMessageText(QStringLiteral("Error")), Lines(Text));
}

bool TBackupPage::AskYesNo(const QString& Text)
{
    return QMessageBox::question(&FWindow, GetMessageText(QStringLiteral("Question")), Lines(Text),
                                 QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

QString TBackupPage::ChooseArchive(const QString& Folder, const QString& Filter)
{
    return QFileDialog::getOpenFileName(&FWindow, QString(), Folder, DialogFilter(Filter));
}

QString TBackupPage::DialogFilter(const QString& Filter)
{
    const QStringList Parts = Filter.split(u'|');
    QStringList Entries;
    for (int I = 0; I + 1 < Parts.size(); I += 2) {
        if (Parts[I].isEmpty() && Parts[I + 1].isEmpty())
            continue;
        Entries << QStringLiteral("%1 (%2)").arg(Parts[I], QString(Parts[I + 1]).replace(u';', u' '));
    }
    return Entries.join(QStringLiteral(";;"));
}
