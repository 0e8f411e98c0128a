#include "core/InternetClients.h"

#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/SettingsModel.h"
#include "lang/Lang.h"

namespace {

QString TrustedCAFile()
{
    return qEnvironmentVariable("ONDRIX_CA_FILE");
}

bool IsEmailKey(const QString& Key)
{
    static const QStringList Keys = {
        SettingKey::SMTPHostEdit_Text,       SettingKey::SMTPPortEdit_Text,        SettingKey::SMTPUserEdit_Text,
        SettingKey::SMTPPasswordEdit_Text,   SettingKey::MsgSubjectCheck_Checked,  SettingKey::EmailFromEdit_Text,
        SettingKey::EmailToEdit_Text,        SettingKey::Check_EMail_UseSSL_Checked,
        SettingKey::Edit_Email_Subject_Text,
    };
    return Keys.contains(Key);
}

}  // namespace

TInternetClients::TInternetClients(TMonitorController& Controller, const TCommonSettings& Program, QObject* Parent)
    : QObject(Parent), FController(Controller), FModel(Controller.Model())
{
    FMailQueue.SetSettings(EmailSettings(FModel));
    // A failed notification mail is logged and listed as an error, but never mailed itself: a
    // mail server that is down must not feed the queue it cannot empty.
    FMailQueue.OnFailure = [this](const QString& Text) { FController.AddUnmailedMessage(msgError, Text); };
    FController.Messages().OnSendMail = [this](const QString& Line) { FMailQueue.SendMessageMail(Line); };

    FSettleTimer.setSingleShot(true);
    FSettleTimer.setInterval(SettingsSettleMSecs);
    connect(&FSettleTimer, &QTimer::timeout, this, [this] { FMailQueue.SetSettings(EmailSettings(FModel)); });

    FUpdateChecker.BaseURL = UpdateBaseUrl(Program.HomePageUrl);
    FUpdateChecker.CurrentVersion = Program.VersionText;
    FUpdateChecker.ProgramStartTime = Program.ProgramStartTime;
    FUpdateChecker.Options.CAFile = TrustedCAFile();
    FUpdateChecker.Options.UserAgent = QStringLiteral("Ondrix/") + Program.VersionText;
    FUpdateChecker.OnChanged = [this] { StoreUpdateValues(); };
    ApplyUpdateSettings();

    connect(&FModel, &TSettingsModel::Changed, this, &TInternetClients::ModelChanged);
    // Loaded settings are no edit under way: a message of the first seconds (a start-up error,
    // an early detection) is mailed with them.
    connect(&FModel, &TSettingsModel::Read, this, [this] {
        FSettleTimer.stop();
        FMailQueue.SetSettings(EmailSettings(FModel));
    });
    connect(&FController, &TMonitorController::Tick, this, &TInternetClients::Tick);
}

TInternetClients::~TInternetClients()
{
    FController.Messages().OnSendMail = nullptr;
}

void TInternetClients::SetUI(TWebUpdateUI* UI)
{
    FUI = UI;
    FUpdateChecker.UI = UI;
}

TEmailSettings TInternetClients::EmailSettings(const TSettingsModel& Model)
{
    TEmailSettings Mail;
    Mail.Host = Model.Text(SettingKey::SMTPHostEdit_Text);
    Mail.Port = Model.Text(SettingKey::SMTPPortEdit_Text);
    Mail.UseTLS = Model.Bool(SettingKey::Check_EMail_UseSSL_Checked);
    Mail.User = Model.Text(SettingKey::SMTPUserEdit_Text);
    Mail.Password = Model.Text(SettingKey::SMTPPasswordEdit_Text);
    Mail.FromAddress = Model.Text(SettingKey::EmailFromEdit_Text);
    Mail.ToAddresses = Model.Text(SettingKey::EmailToEdit_Text);
    Mail.MsgSubjectCheck = Model.Bool(SettingKey::MsgSubjectCheck_Checked);
    Mail.Subject = Model.Text(SettingKey::Edit_Email_Subject_Text);
    Mail.CAFile = TrustedCAFile();
    return Mail;
}

bool TInternetClients::EmailSubjectEnabled(const TSettingsModel& Model)
{
    return !Model.Bool(SettingKey::MsgSubjectCheck_Checked);
}

void TInternetClients::SendTestMail()
{
    // The test takes the settings as they stand, and so does a mail waiting for its next try.
    FSettleTimer.stop();
    FMailQueue.SetSettings(EmailSettings(FModel));
    FMailQueue.SendTestMail(GetMessageText(QStringLiteral("TestMessage")), [this](const TOndrixEmailer& Mail) {
        if (!FUI)
            return;
        if (Mail.Success)
            FUI->ShowInformation(Mail.ResultCaption(), Mail.ResultText());
        else
            FUI->ShowError(Mail.ResultCaption(), Mail.ResultText());
    });
}

void TInternetClients::Check_EMail_UseSSLClick(bool Checked)
{
    FModel.SetBool(SettingKey::Check_EMail_UseSSL_Checked, Checked);
    FModel.SetText(SettingKey::SMTPPortEdit_Text, SMTPPortForTLS(Checked));
}

void TInternetClients::MCheckForUpdatesClick()
{
    FUpdateChecker.CheckForUpdates(false);
}

void TInternetClients::Tick()
{
    FUpdateChecker.CheckForUpdates(true);
}

void TInternetClients::ModelChanged(const QString& Key)
{
    if (IsEmailKey(Key))
        FSettleTimer.start();
    else if (Key == QLatin1String(SettingKey::Check_AutoUpdates_Checked)
             || Key == QLatin1String(SettingKey::WebUpdate_LastCheckTime)
             || Key == QLatin1String(SettingKey::WebUpdate_LastVersion))
        ApplyUpdateSettings();
}

void TInternetClients::ApplyUpdateSettings()
{
    if (FStoringUpdateValues)
        return;
    FUpdateChecker.AutoUpdates = FModel.Bool(SettingKey::Check_AutoUpdates_Checked);
    FUpdateChecker.LastCheckTime = FModel.Float(SettingKey::WebUpdate_LastCheckTime);
    FUpdateChecker.LastVersion = FModel.Text(SettingKey::WebUpdate_LastVersion);
}

void TInternetClients::StoreUpdateValues()
{
    // The model tells of each value as it is set; the checker's other values are not yet
    // stored then and must not be read back.
    FStoringUpdateValues = true;
    FModel.SetBool(SettingKey::Check_AutoUpdates_Checked, FUpdateChecker.AutoUpdates);
    FModel.SetFloat(SettingKey::WebUpdate_LastCheckTime, FUpdateChecker.LastCheckTime);
    FModel.SetText(SettingKey::WebUpdate_LastVersion, FUpdateChecker.LastVersion);
    FStoringUpdateValues = false;
}
