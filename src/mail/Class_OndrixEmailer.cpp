#include "mail/Class_OndrixEmailer.h"

#include "lang/Lang.h"
#include "mail/SMTPMailer.h"
#include "util/BusyCursor.h"

#include <QMetaObject>

#include <algorithm>
#include <exception>

QString SMTPPortForTLS(bool UseTLS)
{
    return UseTLS ? QStringLiteral("465") : QStringLiteral("25");
}

QString WithoutPassword(QString Text, const QString& Password)
{
    if (Password.isEmpty())
        return Text;
    const QString Hidden = QStringLiteral("********");
    Text.replace(Password, Hidden);
    Text.replace(QString::fromLatin1(Password.toUtf8().toBase64()), Hidden);
    return Text;
}

void TOndrixEmailer::SubjectAndBody(const TEmailSettings& Mail, const QString& Text, QString& Subject,
                                    QString& Body)
{
    if (Mail.MsgSubjectCheck) {
        Subject = Text;
        Body.clear();
    } else {
        Subject = Mail.Subject;
        Body = Text;
    }
}

void TOndrixEmailer::Execute(const TEmailSettings& Mail, const std::atomic<bool>* Abort)
{
    try {
        QString Subject;
        QString Body;
        SubjectAndBody(Mail, MailText, Subject, Body);
        TSMTPMailer Mailer;
        Mailer.UseTLS = Mail.UseTLS;
        Mailer.CAFile = Mail.CAFile;
        Mailer.Abort = Abort;
        Mailer.SendMail(Mail.Host, Mail.Port, Mail.User, Mail.Password, Mail.FromAddress,
                        Mail.ToAddresses, Subject, Body);
        Success = Mailer.Success;
        ErrorText = WithoutPassword(Mailer.ErrorText, Mail.Password);
        Permanent = Mailer.Permanent;
    } catch (const std::exception& Error) {
        Success = false;
        ErrorText = WithoutPassword(QString::fromLocal8Bit(Error.what()), Mail.Password);
        Permanent = false;
    }
}

QString TOndrixEmailer::ResultCaption() const
{
    return GetMessageText(Success ? QStringLiteral("Information") : QStringLiteral("Error"));
}

QString TOndrixEmailer::ResultText() const
{
    return Success ? FormatMessageText(QStringLiteral("EmailMessageSent"), {MailText})
                   : FormatMessageText(QStringLiteral("EmailMessageError"), {ErrorText});
}

TOndrixMailQueue::TOndrixMailQueue()
{
    FThread = std::thread([this] { SendingThread(); });
}

TOndrixMailQueue::~TOndrixMailQueue()
{
    {
        std::lock_guard Lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FThread.join();
    std::list<std::thread> Tests;
    {
        // Joined outside the lock: a test thread takes it once more on its way out.
        std::lock_guard Lock(FTestLock);
        Tests.swap(FTestThreads);
    }
    for (std::thread& Test : Tests)
        Test.join();
}

void TOndrixMailQueue::Post(std::function<void()> F)
{
    QMetaObject::invokeMethod(&FOwner, std::move(F), Qt::QueuedConnection);
}

void TOndrixMailQueue::SetSettings(const TEmailSettings& Value)
{
    {
        std::lock_guard Lock(FLock);
        FSettings = Value;
        ++FSettingsVersion;
        // Mails waiting for a later try may go through now.
        for (TWaitingMail& Mail : FQueue)
            Mail.Due = {};
    }
    FWake.notify_all();
}

TEmailSettings TOndrixMailQueue::Settings() const
{
    std::lock_guard Lock(FLock);
    return FSettings;
}

void TOndrixMailQueue::SendMessageMail(const QString& Line)
{
    bool FirstDrop = false;
    {
        std::lock_guard Lock(FLock);
        FQueue.push_back(TWaitingMail{FNextId++, Line, 0, {}});
        while (FQueue.size() > size_t(std::max(MaxWaiting, 1))) {
            // The oldest go first; the one on the wire right now is left to finish.
            const auto Oldest = FQueue.begin()->Id == FSendingId ? FQueue.begin() + 1 : FQueue.begin();
            FQueue.erase(Oldest);
            ++FDropped;
            ++FDroppedUnreported;
            if (!FOverflowing) {
                FOverflowing = true;
                FirstDrop = true;
            }
        }
    }
    FWake.notify_all();
    if (FirstDrop)
        Post([this] { ReportDropped(); });
}

int TOndrixMailQueue::Waiting() const
{
    std::lock_guard Lock(FLock);
    return int(FQueue.size());
}

qint64 TOndrixMailQueue::DroppedCount() const
{
    std::lock_guard Lock(FLock);
    return FDropped;
}

void TOndrixMailQueue::ReportDropped()
{
    // Runs on the owner's thread after whatever dropped the mails is done, so a burst that
    // overflows the queue gives one report with the count, not one per mail; the mails dropped
    // later in the same overflow are counted (DroppedCount) but not reported again.
    qint64 Count = 0;
    {
        std::lock_guard Lock(FLock);
        Count = FDroppedUnreported;
        FDroppedUnreported = 0;
    }
    if (Count > 0 && OnFailure)
        OnFailure(GetMessageText(QStringLiteral("EmailError"))
                  + QStringLiteral(": %1 waiting mails dropped, the queue holds at most %2").arg(Count).arg(MaxWaiting));
}

std::deque<TOndrixMailQueue::TWaitingMail>::iterator TOndrixMailQueue::NextDue(TClock::time_point Now)
{
    return std::find_if(FQueue.begin(), FQueue.end(), [Now](const TWaitingMail& Mail) { return Mail.Due <= Now; });
}

void TOndrixMailQueue::MailLeft(std::deque<TWaitingMail>::iterator Mail)
{
    FQueue.erase(Mail);
    if (FQueue.size() < size_t(std::max(MaxWaiting, 1)))
        FOverflowing = false;
}

void TOndrixMailQueue::SendingThread()
{
    std::unique_lock Lock(FLock);
    while (!FStop) {
        const auto Next = NextDue(TClock::now());
        if (Next == FQueue.end()) {
            // Nothing due: until a mail comes, new settings come, or the earliest try is due.
            if (FQueue.empty()) {
                FWake.wait(Lock);
            } else {
                const auto Earliest = std::min_element(FQueue.begin(), FQueue.end(), [](const auto& A, const auto& B) {
                    return A.Due < B.Due;
                });
                FWake.wait_until(Lock, Earliest->Due);
            }
            continue;
        }

        const TEmailSettings Settings = FSettings;
        const quint64 SettingsVersion = FSettingsVersion;
        const quint64 Id = Next->Id;
        TOndrixEmailer Mail;
        Mail.MailText = Next->Text;
        FSendingId = Id;
        Lock.unlock();
        Mail.Execute(Settings, &FStop);
        Lock.lock();
        FSendingId = 0;
        if (FStop)
            break;

        // The mail just sent is still in the queue: it is never dropped while on the wire.
        const auto Sent = std::find_if(FQueue.begin(), FQueue.end(), [Id](const TWaitingMail& M) { return M.Id == Id; });
        if (Mail.Success) {
            MailLeft(Sent);
            Post([this, Text = Mail.MailText] {
                if (OnSent)
                    OnSent(Text);
            });
            continue;
        }

        const int Tries = ++Sent->Tries;
        const int MaxTries = int(RetryDelays.size()) + 1;
        const bool TryAgain = !Mail.Permanent && Tries < MaxTries;
        QString Outcome;
        if (TryAgain)
            Outcome = QStringLiteral("try %1 of %2, next try in %3 s")
                          .arg(Tries)
                          .arg(MaxTries)
                          .arg(double(RetryDelays[size_t(Tries - 1)].count()) / 1000.0);
        else if (Mail.Permanent)
            Outcome = QStringLiteral("refused, mail dropped");
        else
            Outcome = QStringLiteral("try %1 of %2, mail dropped").arg(Tries).arg(MaxTries);
        const QString Text = GetMessageText(QStringLiteral("EmailError")) + QStringLiteral(": ") + Mail.ErrorText
                             + QStringLiteral(" (") + Outcome + QStringLiteral("): ") + Mail.MailText;
        Post([this, Text] {
            if (OnFailure)
                OnFailure(Text);
        });
        if (!TryAgain) {
            MailLeft(Sent);
            continue;
        }
        // The mails behind it go meanwhile. Settings changed during the try end the wait.
        Sent->Due = FSettingsVersion != SettingsVersion ? TClock::time_point{}
                                                         : TClock::now() + RetryDelays[size_t(Tries - 1)];
    }
}

void TOndrixMailQueue::SendTestMail(const QString& Text, std::function<void(const TOndrixEmailer&)> ShowResult)
{
    BeginBusyCursor();
    const TEmailSettings Settings = this->Settings();
    std::lock_guard Lock(FTestLock);
    // Threads of earlier tests that have finished are joined here, so none is left behind.
    for (auto It = FTestThreads.begin(); It != FTestThreads.end();) {
        const bool Done = std::find(FTestsDone.begin(), FTestsDone.end(), It->get_id()) != FTestsDone.end();
        if (Done) {
            FTestsDone.remove(It->get_id());
            It->join();
            It = FTestThreads.erase(It);
        } else {
            ++It;
        }
    }
    FTestThreads.emplace_back([this, Settings, Text, ShowResult = std::move(ShowResult)] {
        auto Mail = std::make_shared<TOndrixEmailer>();
        Mail->MailText = Text;
        Mail->IsTest = true;
        Mail->Execute(Settings, &FStop);
        Post([Mail, ShowResult] {
            EndBusyCursor();
            if (ShowResult)
                ShowResult(*Mail);
        });
        std::lock_guard DoneLock(FTestLock);
        FTestsDone.push_back(std::this_thread::get_id());
    });
}
