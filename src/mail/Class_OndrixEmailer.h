#pragma once
// E-mail notification: selected program messages are mailed, as they happen, to the configured
// address, and a test mail reports its outcome at once.
//
// Notification mails go through one bounded queue served by one sending thread, in order, so a
// sample that flaps cannot start a thread per message. A mail the server did not take is tried
// again after about 1, 5 and 15 minutes; the mails behind it go out meanwhile, so one mail a
// server chokes on never holds up the rest. The order holds per try: the first tries go in the
// order the mails came, and of the mails due for a try the one that came first goes first. A
// mail the server refused for good (a 5xx reply) and a mail out of tries are dropped. Every
// failure is reported as a text through OnFailure (the program writes it to the day's log as an
// error line that is never mailed itself). Beyond MaxWaiting mails the oldest are dropped, with
// one report per overflow: from the first drop until the queue has room again.
//
// Threads: SendMessageMail, SetSettings and SendTestMail are called on the owner's thread (the
// main thread) and never wait for the network. The sending thread and the test-mail threads
// report back through queued calls on the owner's thread: OnFailure, OnSent and the test mail's
// result all run there.

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

// The e-mail settings in force for a send.
struct TEmailSettings {
    QString Host;                    // SMTPHostEdit
    QString Port = QStringLiteral("25");   // SMTPPortEdit, as text
    bool UseTLS = false;             // Check_EMail_UseSSL
    QString User;                    // SMTPUserEdit; empty: no login
    QString Password;                // SMTPPasswordEdit
    QString FromAddress;             // EmailFromEdit
    QString ToAddresses;             // EmailToEdit, separated by "," or ";"
    bool MsgSubjectCheck = true;     // the mailed text is the subject (else the body)
    QString Subject;                 // Edit_Email_Subject: the subject when MsgSubjectCheck is off
    QString CAFile;                  // trusted authorities beside the system's store
};

// The port text that goes with the TLS box: "465" when it is ticked, "25" when not.
QString SMTPPortForTLS(bool UseTLS);

// Text with the password taken out, as it stands and as a login sends it (base64), for error
// texts that may quote what the server or the library saw: a password is never shown or logged.
QString WithoutPassword(QString Text, const QString& Password);

// One mail: the text to mail and, once sent, its outcome.
class TOndrixEmailer {
public:
    QString MailText;
    bool IsTest = false;
    bool Success = false;
    QString ErrorText;
    bool Permanent = false;   // refused for good: trying again cannot help

    // Subject and body by the subject rule: with MsgSubjectCheck the subject is the text and the
    // body is empty; otherwise the subject is the fixed one and the body is the text.
    static void SubjectAndBody(const TEmailSettings& Mail, const QString& Text, QString& Subject, QString& Body);

    // Sends the mail in one SMTP session with these settings and keeps the outcome.
    void Execute(const TEmailSettings& Mail, const std::atomic<bool>* Abort = nullptr);

    // The box a test mail ends with: the text of "EmailMessageSent" under "Information" on
    // success, of "EmailMessageError" under "Error" on failure.
    QString ResultCaption() const;
    QString ResultText() const;
};

class TOndrixMailQueue {
public:
    TOndrixMailQueue();
    // Ends the sending thread (a session under way is broken off) and the test mails; mails
    // still waiting are lost.
    ~TOndrixMailQueue();
    TOndrixMailQueue(const TOndrixMailQueue&) = delete;
    TOndrixMailQueue& operator=(const TOndrixMailQueue&) = delete;

    // Most mails waiting; beyond it the oldest are dropped.
    static constexpr int DefaultMaxWaiting = 1000;
    int MaxWaiting = DefaultMaxWaiting;
    // Waits before the second, third and fourth try of a mail (about 1, 5 and 15 minutes).
    std::vector<std::chrono::milliseconds> RetryDelays = {std::chrono::minutes(1), std::chrono::minutes(5),
                                                          std::chrono::minutes(15)};

    // Run on the owner's thread (queued): a failure or a drop, as the text of an error line.
    std::function<void(const QString& Text)> OnFailure;
    // Run on the owner's thread (queued) after each notification mail delivered.
    std::function<void(const QString& MailText)> OnSent;

    // The settings for every later try (a mail waiting for its next try uses the new ones; new
    // settings also end that wait at once, for every waiting mail).
    void SetSettings(const TEmailSettings& Value);
    TEmailSettings Settings() const;

    // Queues a notification mail with this text; returns at once.
    void SendMessageMail(const QString& Line);

    // Sends a test mail at once on its own thread with the settings in force, beside the queue,
    // with the busy cursor shown until ShowResult has run (on the owner's thread).
    void SendTestMail(const QString& Text, std::function<void(const TOndrixEmailer&)> ShowResult);

    // Mails waiting (the one being sent included).
    int Waiting() const;
    // Mails dropped since the start because the queue was full.
    qint64 DroppedCount() const;

private:
    using TClock = std::chrono::steady_clock;
    struct TWaitingMail {
        quint64 Id = 0;
        QString Text;
        int Tries = 0;
        TClock::time_point Due{};  // not before then (a new mail: at once)
    };

    void SendingThread();
    // The first mail of the queue whose try is due at Now; end() when none is. Under FLock.
    std::deque<TWaitingMail>::iterator NextDue(TClock::time_point Now);
    // A mail left the queue (sent, refused, out of tries); an overflow ends once there is room.
    // Under FLock.
    void MailLeft(std::deque<TWaitingMail>::iterator Mail);
    // Runs F on the owner's thread, unless the queue is gone by then.
    void Post(std::function<void()> F);
    void ReportDropped();

    QObject FOwner;   // lives on the owner's thread; queued calls go through it
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::deque<TWaitingMail> FQueue;
    TEmailSettings FSettings;
    quint64 FSettingsVersion = 0;
    qint64 FDropped = 0;
    qint64 FDroppedUnreported = 0;
    bool FOverflowing = false;  // mails are being dropped for room; reported once
    quint64 FNextId = 1;
    quint64 FSendingId = 0;  // the mail being sent (it is not dropped for room then); 0: none
    std::atomic<bool> FStop{false};
    std::thread FThread;

    std::mutex FTestLock;
    std::list<std::thread> FTestThreads;
    std::list<std::thread::id> FTestsDone;
};
