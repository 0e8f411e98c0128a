// The internet clients bound to the settings model and the program messages: the mail filter
// feeding the queue, failures logged but never mailed, the TLS box, the test mail, and the
// update check's values kept in the settings, against real SMTP and HTTP servers.
#include "core/InternetClients.h"

#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/SettingsModel.h"

#include "DataFolder.h"
#include "helpers/NetServers.h"
#include "helpers/QtWait.h"
#include "helpers/TestFiles.h"
#include "messages/Class_OndrixMessage.h"
#include "util/IniFile.h"
#include "util/TextFile.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testkit::SmtpServer;

namespace {

struct TBoxes : TWebUpdateUI {
    QStringList Shown;   // "kind: caption: text"
    TUpdateChoice ShowUpdate(const QString& Caption, const QString& Text, bool&, const QString&, const QString&,
                             const QString&) override
    {
        Shown.append(QStringLiteral("update: ") + Caption + QStringLiteral(": ") + Text);
        return TUpdateChoice::Cancel;
    }
    void ShowInformation(const QString& Caption, const QString& Text) override
    {
        Shown.append(QStringLiteral("information: ") + Caption + QStringLiteral(": ") + Text);
    }
    void ShowError(const QString& Caption, const QString& Text) override
    {
        Shown.append(QStringLiteral("error: ") + Caption + QStringLiteral(": ") + Text);
    }
    void OpenUrl(const QString&) override {}
};

// A program's settings object in a temporary data folder, its model, its monitoring
// controller and the clients bound to them.
struct TProgram {
    TTestDataFolder Data;
    TMainThreadQueue Queue;
    TSettingsModel Model;
    TMonitorController Controller{*Data.Settings, Model, Queue};
    TBoxes Boxes;
    std::unique_ptr<TInternetClients> Clients;
    QList<TOndrixMessage> Posted;

    explicit TProgram(int SmtpPort = 0)
    {
        Model.SetText(SettingKey::SMTPHostEdit_Text, QStringLiteral("127.0.0.1"));
        Model.SetText(SettingKey::SMTPPortEdit_Text, QString::number(SmtpPort));
        Model.SetText(SettingKey::EmailFromEdit_Text, QStringLiteral("ondrix@station.test"));
        Model.SetText(SettingKey::EmailToEdit_Text, QStringLiteral("operator@station.test"));
        Clients = std::make_unique<TInternetClients>(Controller, *Data.Settings);
        Clients->SetUI(&Boxes);
        QObject::connect(&Controller, &TMonitorController::MessageAdded,
                         [this](const TOndrixMessage& Message) { Posted.append(Message); });
    }
    TOndrixMailQueue& MailQueue() { return Clients->MailQueue(); }
    const TOndrixMessageList& Messages() { return Controller.Messages().Messages(); }
};

QStringList Subjects(const SmtpServer& Server)
{
    QStringList Result;
    for (const auto& Mail : Server.mails())
        Result.append(QString::fromStdString(Mail.subject));
    return Result;
}

}  // namespace

// The master switch and the type boxes decide which messages are mailed; the mailed text is
// the message's log line.
TEST(InternetClients, MailFilterMasterSwitchAndTypeBoxes)
{
    const TOndrixMessageType Types[] = {msgSampleEnable, msgSampleDisable, msgSampleDetect, msgCommand,
                                        msgError,        msgInfo,          msgSampleNotDetect};
    const struct {
        const char* Name;
        bool Master;
        const char* Box;   // the one box ticked; nullptr: all ticked
        QList<TOndrixMessageType> Mailed;
    } Cases[] = {
        {"master off, every box on", false, nullptr, {}},
        {"master on, every box on", true, nullptr,
         {msgSampleEnable, msgSampleDisable, msgSampleDetect, msgCommand, msgError, msgSampleNotDetect}},
        {"on and off", true, SettingKey::MsgOnOffSampleCheck_Checked, {msgSampleEnable, msgSampleDisable}},
        {"found", true, SettingKey::MsgDetectSampleCheck_Checked, {msgSampleDetect}},
        {"not found", true, SettingKey::MsgNotDetectSampleCheck_Checked, {msgSampleNotDetect}},
        {"commands", true, SettingKey::MsgCommandCheck_Checked, {msgCommand}},
        {"errors", true, SettingKey::MsgErrorCheck_Checked, {msgError}},
        {"master on, every box off", true, "", {}},
    };
    const char* Boxes[] = {SettingKey::MsgOnOffSampleCheck_Checked, SettingKey::MsgDetectSampleCheck_Checked,
                           SettingKey::MsgNotDetectSampleCheck_Checked, SettingKey::MsgCommandCheck_Checked,
                           SettingKey::MsgErrorCheck_Checked};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SmtpServer Server;
        Server.start();
        TProgram P(Server.port());
        P.Model.SetBool(SettingKey::EmailMessagesCheck_Checked, Case.Master);
        for (const char* Box : Boxes)
            P.Model.SetBool(Box, Case.Box == nullptr || QLatin1String(Case.Box) == QLatin1String(Box));
        QStringList Expected;
        for (const TOndrixMessageType Type : Types) {
            const QString Text = QStringLiteral("Сообщение типа %1").arg(int(Type));
            P.Controller.AddMessage(Type, Text);
            if (Case.Mailed.contains(Type))
                Expected.append(MessageLogLine(P.Messages().Items(0)));
        }
        ASSERT_TRUE(Server.waitForMails(size_t(Expected.size())));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return P.MailQueue().Waiting() == 0; }));
        EXPECT_EQ(Subjects(Server), Expected);
    }
}

// A server that is down at first: the failure goes to the log file and the list as an error
// line that is not mailed (though errors are mailed), and the detection arrives once the
// server is up.
TEST(InternetClients, FailureIsLoggedNotMailedAndTheMailArrivesLater)
{
    const int Port = testkit::freeLocalPort();
    SmtpServer Server;
    TProgram P(Port);
    // The server starts after the first failure; the later tries leave it ample time to come
    // up on a loaded machine.
    P.MailQueue().RetryDelays = {2s, 20s, 60s};
    P.Model.SetBool(SettingKey::LogFileCreate_Checked, true);
    P.Model.SetBool(SettingKey::EmailMessagesCheck_Checked, true);
    P.Model.SetBool(SettingKey::MsgDetectSampleCheck_Checked, true);
    P.Model.SetBool(SettingKey::MsgErrorCheck_Checked, true);

    P.Controller.AddMessage(msgSampleDetect, QStringLiteral("Найден образец № 1 \"Заставка\""));
    const QString Detection = MessageLogLine(P.Messages().Items(0));
    // The failure is listed (the window hears of it) ...
    ASSERT_TRUE(testkit::processEventsUntil([&] { return P.Posted.size() == 2; }));
    const TOndrixMessage Failure = P.Posted.at(1);
    EXPECT_EQ(P.Messages().Items(0).Text, Failure.Text);
    EXPECT_EQ(Failure.MsgType, msgError);
    EXPECT_TRUE(Failure.Text.startsWith(QStringLiteral("Ошибка отправки E-mail: SMTP Error "))) << Failure.Text.toStdString();
    EXPECT_TRUE(Failure.Text.endsWith(QStringLiteral(": ") + Detection)) << Failure.Text.toStdString();

    Server.start(Port);
    ASSERT_TRUE(Server.waitForMails(1, 180));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return P.MailQueue().Waiting() == 0; }));
    testkit::processEventsFor(300ms);
    EXPECT_EQ(Subjects(Server), QStringList{Detection});

    QString Log;
    ASSERT_TRUE(ReadTextFile(P.Controller.Messages().GetLogFileName(), Log));
    const QStringList Lines = SplitTextLines(Log);
    ASSERT_GE(Lines.size(), 2);
    EXPECT_EQ(Lines.at(0), Detection);
    EXPECT_EQ(Lines.at(1), MessageLogLine(Failure));
    for (const QString& Line : Lines.mid(1))
        EXPECT_TRUE(Line.contains(QStringLiteral(": Ошибка - Ошибка отправки E-mail: "))) << Line.toStdString();
}

TEST(InternetClients, TlsBoxClickSwitchesThePortLoadingDoesNot)
{
    TProgram P;
    P.Model.SetText(SettingKey::SMTPPortEdit_Text, QStringLiteral("587"));
    P.Clients->Check_EMail_UseSSLClick(true);
    EXPECT_TRUE(P.Model.Bool(SettingKey::Check_EMail_UseSSL_Checked));
    EXPECT_EQ(P.Model.Text(SettingKey::SMTPPortEdit_Text), QStringLiteral("465"));
    P.Model.SetText(SettingKey::SMTPPortEdit_Text, QStringLiteral("2525"));
    P.Clients->Check_EMail_UseSSLClick(false);
    EXPECT_EQ(P.Model.Text(SettingKey::SMTPPortEdit_Text), QStringLiteral("25"));

    // A settings file with the box on and port 587 (STARTTLS) keeps its port.
    P.Model.SetText(SettingKey::SMTPPortEdit_Text, QStringLiteral("587"));
    P.Model.SetBool(SettingKey::Check_EMail_UseSSL_Checked, true);
    EXPECT_EQ(P.Model.Text(SettingKey::SMTPPortEdit_Text), QStringLiteral("587"));
}

TEST(InternetClients, SubjectFieldEnabledExactlyWhenTheMessageIsNotTheSubject)
{
    TProgram P;
    EXPECT_FALSE(TInternetClients::EmailSubjectEnabled(P.Model));   // the default: message as subject
    P.Model.SetBool(SettingKey::MsgSubjectCheck_Checked, false);
    EXPECT_TRUE(TInternetClients::EmailSubjectEnabled(P.Model));
}

TEST(InternetClients, EditedSettingsReachTheQueueOnceTheyHaveSettled)
{
    TProgram P;
    P.Model.SetText(SettingKey::SMTPHostEdit_Text, QStringLiteral("mail.station.test"));
    EXPECT_EQ(P.MailQueue().Settings().Host, QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return P.MailQueue().Settings().Host == u"mail.station.test"; }));
    const TEmailSettings Mail = P.MailQueue().Settings();
    EXPECT_EQ(Mail.Port, QStringLiteral("0"));
    EXPECT_EQ(Mail.FromAddress, QStringLiteral("ondrix@station.test"));
    EXPECT_TRUE(Mail.MsgSubjectCheck);
}

TEST(InternetClients, SettingsReadFromTheFileReachTheQueueAtOnce)
{
    TProgram P;
    testkit::writeText(P.Data.Root.file("mail.ini"), "[Ondrix]\r\nSMTPHostEdit_Text=mail.station.test\r\n"
                                                     "SMTPPortEdit_Text=2525\r\n");
    P.Model.ReadFrom(TIniFile(QString::fromStdString(P.Data.Root.file("mail.ini"))));
    const TEmailSettings Mail = P.MailQueue().Settings();
    EXPECT_EQ(Mail.Host, QStringLiteral("mail.station.test"));
    EXPECT_EQ(Mail.Port, QStringLiteral("2525"));
}

// The test button mails "Тестовое сообщение" with the settings as they stand and ends with a box.
TEST(InternetClients, TestMailBoxes)
{
    SmtpServer Server;
    Server.start();
    TProgram P(Server.port());
    P.Model.SetBool(SettingKey::MsgSubjectCheck_Checked, false);
    P.Model.SetText(SettingKey::Edit_Email_Subject_Text, QStringLiteral("Ondrix"));
    P.Clients->SendTestMail();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return P.Boxes.Shown.size() == 1; }));
    EXPECT_EQ(P.Boxes.Shown.at(0), QStringLiteral("information: Информация: Сообщение отправлено. Тестовое сообщение."));
    ASSERT_TRUE(Server.waitForMails(1));
    EXPECT_EQ(Server.mails().at(0).subject, "Ondrix");
    EXPECT_EQ(QString::fromStdString(Server.mails().at(0).body), QStringLiteral("Тестовое сообщение"));

    P.Model.SetText(SettingKey::SMTPHostEdit_Text, QString());
    P.Clients->SendTestMail();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return P.Boxes.Shown.size() == 2; }));
    EXPECT_EQ(P.Boxes.Shown.at(1),
              QStringLiteral("error: Ошибка: Ошибка отправки сообщения. SMTP Error no SMTP server is set."));
}

// The update check reads and keeps its values in the settings; the base address comes from
// ONDRIX_UPDATE_URL.
TEST(InternetClients, UpdateCheckKeepsItsValuesInTheSettings)
{
    testkit::HttpServer Http;
    Http.start();
    Http.put("version/ondrix.ver", "Version=99.0\n");
    qputenv("ONDRIX_UPDATE_URL", QByteArray::fromStdString(Http.baseUrl()));
    TProgram P;
    qunsetenv("ONDRIX_UPDATE_URL");
    TUpdateChecker& Checker = P.Clients->UpdateChecker();
    EXPECT_EQ(Checker.BaseURL, QString::fromStdString(Http.baseUrl()));
    EXPECT_EQ(Checker.CurrentVersion, P.Data.Settings->VersionText);
    TDateTime Clock = P.Data.Settings->ProgramStartTime + 2.0;
    Checker.Clock = [&] { return Clock; };
    int Finished = 0;
    Checker.OnFinished = [&](const TWebUpdate&) { ++Finished; };

    // Off in the settings: no automatic check.
    P.Model.SetBool(SettingKey::Check_AutoUpdates_Checked, false);
    P.Controller.TimerTimer();
    EXPECT_EQ(Checker.Running(), 0);
    // On again, but checked an hour ago according to the settings file.
    P.Model.SetBool(SettingKey::Check_AutoUpdates_Checked, true);
    P.Model.SetFloat(SettingKey::WebUpdate_LastCheckTime, Clock - 1.0 / 24);
    P.Controller.TimerTimer();
    EXPECT_EQ(Checker.Running(), 0);
    EXPECT_TRUE(Http.requests().empty());

    Clock += 1.0;
    P.Controller.TimerTimer();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Finished == 1; }));
    EXPECT_EQ(P.Model.Float(SettingKey::WebUpdate_LastCheckTime), Clock);
    EXPECT_EQ(P.Model.Text(SettingKey::WebUpdate_LastVersion), QStringLiteral("99.0"));
    ASSERT_EQ(P.Boxes.Shown.size(), 1);
    EXPECT_TRUE(P.Boxes.Shown.at(0).startsWith(QStringLiteral("update: Обновление: ")));

    // The menu command checks at once and says so even when nothing is new to announce.
    P.Clients->MCheckForUpdatesClick();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Finished == 2; }));
    EXPECT_EQ(P.Boxes.Shown.size(), 2);
    EXPECT_EQ(Http.requests().size(), 2u);
}
