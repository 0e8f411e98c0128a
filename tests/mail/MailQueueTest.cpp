// The notification mail queue against a real SMTP server: order, one session at a time,
// retries, drops and their reports, and the test mail beside the queue.
#include "mail/Class_OndrixEmailer.h"

#include "helpers/NetServers.h"
#include "helpers/QtWait.h"
#include "lang/Lang.h"
#include "util/BusyCursor.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace std::chrono_literals;
using testkit::SmtpServer;
using testkit::SmtpServerOptions;

namespace {

TEmailSettings SettingsFor(int Port)
{
    TEmailSettings Settings;
    Settings.Host = QStringLiteral("127.0.0.1");
    Settings.Port = QString::number(Port);
    Settings.FromAddress = QStringLiteral("ondrix@station.test");
    Settings.ToAddresses = QStringLiteral("operator@station.test");
    return Settings;
}

// Collects what the queue reports on the test's thread.
struct TReports {
    QStringList Failures;
    QStringList Sent;
    void Attach(TOndrixMailQueue& Queue)
    {
        Queue.OnFailure = [this](const QString& Text) { Failures.append(Text); };
        Queue.OnSent = [this](const QString& Text) { Sent.append(Text); };
    }
};

}  // namespace

TEST(OndrixEmailer, SubjectRulePutsTheTextInSubjectOrBody)
{
    const struct {
        bool MsgSubjectCheck;
        const char* FixedSubject;
        const char* Subject;
        const char* Body;
    } Cases[] = {
        {true, "Fixed", "03.03.18 14:05:09: НАЙДЕН - line", ""},
        {false, "Fixed", "Fixed", "03.03.18 14:05:09: НАЙДЕН - line"},
        {false, "", "", "03.03.18 14:05:09: НАЙДЕН - line"},
    };
    for (const auto& Case : Cases) {
        TEmailSettings Settings;
        Settings.MsgSubjectCheck = Case.MsgSubjectCheck;
        Settings.Subject = QString::fromUtf8(Case.FixedSubject);
        QString Subject = QStringLiteral("old");
        QString Body = QStringLiteral("old");
        TOndrixEmailer::SubjectAndBody(Settings, QStringLiteral("03.03.18 14:05:09: НАЙДЕН - line"), Subject, Body);
        EXPECT_EQ(Subject, QString::fromUtf8(Case.Subject));
        EXPECT_EQ(Body, QString::fromUtf8(Case.Body));
    }
}

// An error text may quote what the server or the library saw; the password never shows, as
// typed or as a login sends it.
TEST(OndrixEmailer, ErrorTextsNeverShowThePassword)
{
    const QString Password = QString::fromUtf8("paß wort");
    const QString Base64 = QString::fromLatin1(Password.toUtf8().toBase64());
    const QString Shown = WithoutPassword("535 " + Password + " refused (" + Base64 + ")", Password);
    EXPECT_FALSE(Shown.contains(Password)) << Shown.toStdString();
    EXPECT_FALSE(Shown.contains(Base64)) << Shown.toStdString();
    EXPECT_TRUE(Shown.startsWith("535 ")) << Shown.toStdString();
    EXPECT_EQ(WithoutPassword("no password here", QString()), "no password here");
}

TEST(OndrixEmailer, TlsBoxSwitchesThePort)
{
    EXPECT_EQ(SMTPPortForTLS(true), QStringLiteral("465"));
    EXPECT_EQ(SMTPPortForTLS(false), QStringLiteral("25"));
}

TEST(OndrixMailQueue, BurstIsDeliveredInOrderOneSessionAtATime)
{
    SmtpServer Server;
    Server.start();
    TOndrixMailQueue Queue;
    TReports Reports;
    Reports.Attach(Queue);
    Queue.SetSettings(SettingsFor(Server.port()));
    const int Count = 200;
    for (int I = 0; I < Count; ++I)
        Queue.SendMessageMail(QStringLiteral("Найден образец № %1").arg(I));
    ASSERT_TRUE(Server.waitForMails(Count, 240));
    const auto Mails = Server.mails();
    ASSERT_EQ(Mails.size(), size_t(Count));
    for (int I = 0; I < Count; ++I)
        EXPECT_EQ(QString::fromStdString(Mails[size_t(I)].subject), QStringLiteral("Найден образец № %1").arg(I));
    EXPECT_EQ(Server.maxSessions(), 1);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Sent.size() == Count; }));
    EXPECT_TRUE(Reports.Failures.isEmpty());
    EXPECT_EQ(Queue.Waiting(), 0);
}

TEST(OndrixMailQueue, ServerDownAtFirstReceivesTheRetriedMailsInOrder)
{
    const int Port = testkit::freeLocalPort();
    SmtpServer Server;
    TOndrixMailQueue Queue;
    // The server starts after the first failure; the later tries leave it ample time to come
    // up on a loaded machine.
    Queue.RetryDelays = {2s, 20s, 60s};
    TReports Reports;
    Reports.Attach(Queue);
    Queue.SetSettings(SettingsFor(Port));
    Queue.SendMessageMail(QStringLiteral("first"));
    Queue.SendMessageMail(QStringLiteral("second"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !Reports.Failures.isEmpty(); }));
    EXPECT_TRUE(Reports.Failures.at(0).startsWith(GetMessageText(QStringLiteral("EmailError")) + QStringLiteral(": SMTP Error ")))
        << Reports.Failures.at(0).toStdString();
    EXPECT_TRUE(Reports.Failures.at(0).contains(QStringLiteral("try 1 of 4")));
    EXPECT_TRUE(Reports.Failures.at(0).endsWith(QStringLiteral(": first")));

    Server.start(Port);
    ASSERT_TRUE(Server.waitForMails(2, 180));
    const auto Mails = Server.mails();
    EXPECT_EQ(Mails.at(0).subject, "first");
    EXPECT_EQ(Mails.at(1).subject, "second");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Sent.size() == 2; }));
    // Each failed at most once: the retries, in the order of the mails, found the server up.
    EXPECT_LE(Reports.Failures.size(), 2);
    EXPECT_EQ(Reports.Sent, QStringList({"first", "second"}));
}

// A mail waiting for its next try holds up nothing: a later one goes out at once.
TEST(OndrixMailQueue, LaterMailsGoWhileAnEarlierOneWaitsForItsNextTry)
{
    const int Port = testkit::freeLocalPort();
    SmtpServer Server;
    TOndrixMailQueue Queue;
    Queue.RetryDelays = {1h, 1h, 1h};
    TReports Reports;
    Reports.Attach(Queue);
    Queue.SetSettings(SettingsFor(Port));
    Queue.SendMessageMail(QStringLiteral("early"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Failures.size() == 1; }));
    Server.start(Port);
    Queue.SendMessageMail(QStringLiteral("later"));
    Queue.SendMessageMail(QStringLiteral("latest"));
    ASSERT_TRUE(Server.waitForMails(2));
    EXPECT_EQ(Server.mails().at(0).subject, "later");
    EXPECT_EQ(Server.mails().at(1).subject, "latest");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Sent.size() == 2; }));
    EXPECT_EQ(Queue.Waiting(), 1);  // the early one, until its next try
    EXPECT_EQ(Reports.Failures.size(), 1);
}

TEST(OndrixMailQueue, NewSettingsEndTheWaitForTheNextTry)
{
    SmtpServer Server;
    Server.start();
    TOndrixMailQueue Queue;
    Queue.RetryDelays = {1h, 1h, 1h};
    TReports Reports;
    Reports.Attach(Queue);
    TEmailSettings Wrong = SettingsFor(testkit::freeLocalPort());
    Queue.SetSettings(Wrong);
    Queue.SendMessageMail(QStringLiteral("waiting"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Failures.size() == 1; }));
    // The operator corrects the port: the mail goes at once, not in an hour.
    Queue.SetSettings(SettingsFor(Server.port()));
    ASSERT_TRUE(Server.waitForMails(1));
    EXPECT_EQ(Server.mails().at(0).subject, "waiting");
}

TEST(OndrixMailQueue, FailuresAreReportedAndMailsDroppedWhenRetriesCannotHelp)
{
    const struct {
        const char* Name;
        bool Refusing;           // the server refuses the recipient for good
        int ExpectedFailures;    // reports for the failing mail
        const char* LastOutcome;
    } Cases[] = {
        {"refused for good: no retry", true, 1, "(refused, mail dropped): doomed"},
        {"server away: four tries", false, 4, "(try 4 of 4, mail dropped): doomed"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SmtpServerOptions Options;
        Options.rejectRecipients = {"nobody@station.test"};
        SmtpServer Server(Options);
        Server.start();
        TOndrixMailQueue Queue;
        Queue.RetryDelays = {50ms, 50ms, 50ms};
        TReports Reports;
        Reports.Attach(Queue);
        TEmailSettings Settings = SettingsFor(Case.Refusing ? Server.port() : testkit::freeLocalPort());
        Settings.ToAddresses = QStringLiteral("nobody@station.test");
        Queue.SetSettings(Settings);
        Queue.SendMessageMail(QStringLiteral("doomed"));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return Queue.Waiting() == 0; }));
        testkit::processEventsUntil([&] { return Reports.Failures.size() >= Case.ExpectedFailures; });
        ASSERT_EQ(Reports.Failures.size(), Case.ExpectedFailures);
        EXPECT_TRUE(Reports.Failures.last().endsWith(QString::fromUtf8(Case.LastOutcome)))
            << Reports.Failures.last().toStdString();
        if (Case.Refusing) {
            EXPECT_TRUE(Reports.Failures.last().contains(QStringLiteral("550: <nobody@station.test>")));
        }

        // The queue goes on with the next mail.
        Queue.SetSettings(SettingsFor(Server.port()));
        Queue.SendMessageMail(QStringLiteral("next"));
        ASSERT_TRUE(Server.waitForMails(1));
        EXPECT_EQ(Server.mails().at(0).subject, "next");
    }
}

TEST(OndrixMailQueue, FullQueueDropsTheOldestWithOneReport)
{
    TOndrixMailQueue Queue;
    Queue.RetryDelays = {1h, 1h, 1h};
    TReports Reports;
    Reports.Attach(Queue);
    Queue.SetSettings(SettingsFor(testkit::freeLocalPort()));
    Queue.SendMessageMail(QStringLiteral("stuck"));
    // The first mail is waiting for its next try now.
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Failures.size() == 1; }));
    for (int I = 0; I < 5000; ++I)
        Queue.SendMessageMail(QStringLiteral("burst %1").arg(I));
    EXPECT_EQ(Queue.Waiting(), TOndrixMailQueue::DefaultMaxWaiting);
    EXPECT_EQ(Queue.DroppedCount(), 5001 - TOndrixMailQueue::DefaultMaxWaiting);
    // The mails of the burst are tried too (and fail): only the drop reports count here.
    const auto Dropped = [&] { return Reports.Failures.filter(QStringLiteral("waiting mails dropped")); };
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Dropped().size() == 1; }));
    EXPECT_EQ(Dropped().at(0).toStdString(),
              (GetMessageText(QStringLiteral("EmailError"))
               + QStringLiteral(": 4001 waiting mails dropped, the queue holds at most 1000"))
                  .toStdString());
    testkit::processEventsFor(200ms);
    EXPECT_EQ(Dropped().size(), 1);
}

// One report per overflow, however many bursts it lasts: the next report comes only after the
// queue had room again.
TEST(OndrixMailQueue, OneOverflowOneReport)
{
    SmtpServer Server;
    Server.start();
    TOndrixMailQueue Queue;
    Queue.MaxWaiting = 10;
    Queue.RetryDelays = {1h, 1h, 1h};
    TReports Reports;
    Reports.Attach(Queue);
    const auto Dropped = [&] { return Reports.Failures.filter(QStringLiteral("waiting mails dropped")).size(); };
    const auto Burst = [&](const QString& Name) {
        for (int I = 0; I < 15; ++I)
            Queue.SendMessageMail(Name + QString::number(I));
        testkit::processEventsFor(100ms);
    };
    const TEmailSettings Down = SettingsFor(testkit::freeLocalPort());
    Queue.SetSettings(Down);
    for (const char* Name : {"a", "b", "c"})
        Burst(Name);
    EXPECT_EQ(Dropped(), 1);
    // The server is reached: the queue empties, and the next overflow is a new one.
    Queue.SetSettings(SettingsFor(Server.port()));
    ASSERT_TRUE(Server.waitForMails(10));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Queue.Waiting() == 0; }));
    Queue.SetSettings(Down);
    Burst("d");
    EXPECT_EQ(Dropped(), 2);
    EXPECT_EQ(Queue.DroppedCount(), 3 * 15 - 10 + 5);
}

TEST(OndrixMailQueue, TestMailEndsWithTheOutcomeBox)
{
    SmtpServerOptions Options;
    Options.rejectRecipients = {"nobody@station.test"};
    SmtpServer Server(Options);
    Server.start();
    const struct {
        const char* Name;
        const char* To;
        bool Success;
        QString Caption;
        QString Text;
    } Cases[] = {
        {"delivered", "operator@station.test", true, QStringLiteral("Информация"),
         QStringLiteral("Сообщение отправлено. Тестовое сообщение.")},
        {"recipient rejected", "nobody@station.test", false, QStringLiteral("Ошибка"),
         QStringLiteral("Ошибка отправки сообщения. 550: <nobody@station.test>: Recipient address rejected: "
                        "User unknown. (5.1.1).")},
    };
    int Delivered = 0;
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TOndrixMailQueue Queue;
        TEmailSettings Settings = SettingsFor(Server.port());
        Settings.ToAddresses = QString::fromUtf8(Case.To);
        Queue.SetSettings(Settings);
        std::optional<TOndrixEmailer> Result;
        int BusyDuringBox = -1;
        Queue.SendTestMail(GetMessageText(QStringLiteral("TestMessage")), [&](const TOndrixEmailer& Mail) {
            BusyDuringBox = BusyCursorCount();
            Result = Mail;
        });
        EXPECT_EQ(BusyCursorCount(), 1);
        ASSERT_TRUE(testkit::processEventsUntil([&] { return Result.has_value(); }));
        // The busy cursor is over before the box shows.
        EXPECT_EQ(BusyDuringBox, 0);
        EXPECT_TRUE(Result->IsTest);
        EXPECT_EQ(Result->Success, Case.Success);
        EXPECT_EQ(Result->ResultCaption(), Case.Caption);
        EXPECT_EQ(Result->ResultText().toStdString(), Case.Text.toStdString());
        if (Case.Success) {
            ASSERT_TRUE(Server.waitForMails(size_t(++Delivered)));
            EXPECT_EQ(QString::fromStdString(Server.mails().back().subject), QStringLiteral("Тестовое сообщение"));
        }
    }
}

TEST(OndrixMailQueue, TestMailReportsAtOnceBesideAStuckQueue)
{
    TOndrixMailQueue Queue;
    Queue.RetryDelays = {1h, 1h, 1h};
    TReports Reports;
    Reports.Attach(Queue);
    Queue.SetSettings(SettingsFor(testkit::freeLocalPort()));
    Queue.SendMessageMail(QStringLiteral("stuck"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Reports.Failures.size() == 1; }));

    std::optional<TOndrixEmailer> Result;
    Queue.SendTestMail(QStringLiteral("test"), [&](const TOndrixEmailer& Mail) { Result = Mail; });
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Result.has_value(); }));
    EXPECT_FALSE(Result->Success);
    EXPECT_TRUE(Result->ErrorText.startsWith(QStringLiteral("SMTP Error "))) << Result->ErrorText.toStdString();
    EXPECT_EQ(Result->ResultCaption(), QStringLiteral("Ошибка"));
    EXPECT_EQ(BusyCursorCount(), 0);
    EXPECT_EQ(Queue.Waiting(), 1);
    EXPECT_EQ(Reports.Failures.size(), 1);
}
