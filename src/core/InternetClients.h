#pragma once
// The program's internet clients bound to the monitoring controller: the notification mail
// queue fed by the messages' mail filter, the test mail, and the update check run by the
// controller's once-a-second tick, with the values it keeps in the settings file.
//
// The window implements TWebUpdateUI (the boxes and opening a web address) and calls the entry
// points of its buttons: SendTestMail ("Отправить тестовое сообщение"), Check_EMail_UseSSLClick
// (the operator ticks the TLS box), MCheckForUpdatesClick (Help menu).
//
// The environment variable ONDRIX_CA_FILE names a PEM file of certificate authorities trusted
// beside the system's store for the SMTP and HTTPS connections (a station's own authority;
// tests). ONDRIX_UPDATE_URL replaces the base address of the update check.
//
// Main thread only.

#include <QObject>
#include <QString>
#include <QTimer>

#include "mail/Class_OndrixEmailer.h"
#include "update/WebUpdate_Functions.h"

class TCommonSettings;
class TMonitorController;
class TSettingsModel;

class TInternetClients : public QObject {
    Q_OBJECT

public:
    // The controller and the settings object outlive this object.
    TInternetClients(TMonitorController& Controller, const TCommonSettings& Program, QObject* Parent = nullptr);
    ~TInternetClients() override;

    // The window's boxes; none: nothing is shown (headless).
    void SetUI(TWebUpdateUI* UI);

    // The e-mail settings of the model (and ONDRIX_CA_FILE).
    static TEmailSettings EmailSettings(const TSettingsModel& Model);
    // Whether the fixed subject can be edited: exactly when the message is not the subject.
    static bool EmailSubjectEnabled(const TSettingsModel& Model);

    // The test button: a test mail with the text of "TestMessage" and the settings in force;
    // the busy cursor shows until its box.
    void SendTestMail();
    // The operator ticked or unticked the TLS box: the port becomes 465 or 25. (Loading a
    // settings file does not come here, so a stored port is kept.)
    void Check_EMail_UseSSLClick(bool Checked);
    // The Help menu's command: an update check now, with a box whatever the outcome.
    void MCheckForUpdatesClick();
    // Every second (the controller's tick): the automatic update check when it is due.
    void Tick();

    TOndrixMailQueue& MailQueue() { return FMailQueue; }
    TUpdateChecker& UpdateChecker() { return FUpdateChecker; }

    // Quiet time after the last edit of an e-mail setting before a waiting mail takes it up (a
    // server name typed letter by letter is not tried at every letter). Settings read from the
    // file are taken at once.
    static constexpr int SettingsSettleMSecs = 2000;

private:
    void ModelChanged(const QString& Key);
    void ApplyUpdateSettings();
    void StoreUpdateValues();

    TMonitorController& FController;
    TSettingsModel& FModel;
    TOndrixMailQueue FMailQueue;
    TUpdateChecker FUpdateChecker;
    TWebUpdateUI* FUI = nullptr;
    QTimer FSettleTimer;
    bool FStoringUpdateValues = false;
};
