#pragma once
// Real network servers for the mail and update tests, each a separate program listening on
// 127.0.0.1 in a temporary folder of its own: an SMTP server (aiosmtpd) that decodes every
// message it accepts with Python's e-mail parser, a small HTTP server that answers from a
// folder, and a certificate authority with a server certificate made by openssl.

#include <string>
#include <sys/types.h>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

// A free TCP port on 127.0.0.1 at the time of asking (for a server that must start later).
int freeLocalPort();

// A helper script of tests/helpers run by Debian's python3, which holds python3-aiosmtpd.
// The script writes "<out>/port" once it listens.
class ScriptServer {
public:
    ScriptServer(std::string script, std::vector<std::string> args);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    // Starts the server (on Port, or on any free port when 0) and waits until it listens;
    // throws when it does not come up.
    void start(int Port = 0);
    // Ends the server and waits until it has exited.
    void stop();
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    // Folder where the server writes what it saw.
    std::string out() const { return dir_.file("out"); }

protected:
    std::vector<std::string>& args() { return args_; }

private:
    TempDir dir_;
    std::string script_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A certificate authority and a server certificate for 127.0.0.1 and localhost signed by it;
// and a second authority that signed nothing the servers use.
struct TestCertificates {
    TestCertificates();
    TempDir dir;
    std::string caFile;         // the authority that signed the server certificate
    std::string otherCaFile;    // an authority that did not
    std::string certFile;
    std::string keyFile;
};

struct SmtpServerOptions {
    enum class Tls { None, Implicit, StartTls } tls = Tls::None;
    std::string certFile, keyFile;
    std::string user, password;              // login required when user is not empty
    std::string mechanisms = "PLAIN,LOGIN";  // offered AUTH mechanisms (PLAIN, LOGIN, CRAM-MD5)
    std::vector<std::string> rejectRecipients;
};

// One message as the server decoded it.
struct ReceivedMail {
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string subject, body;        // decoded
    std::string rawHeaders;           // the header block as sent
    std::string contentType, charset;
    std::string from, to, xMailer, date, messageId;
    bool tls = false;
    std::string authMechanism, authUser;
};

class SmtpServer : public ScriptServer {
public:
    explicit SmtpServer(const SmtpServerOptions& options = {});
    // Every message received so far, in arrival order.
    std::vector<ReceivedMail> mails() const;
    // Waits until at least `count` messages have arrived (generous time-out); false otherwise.
    bool waitForMails(size_t count, int timeoutSeconds = 60) const;
    // The most sessions that were ever open at the same time.
    int maxSessions() const;
};

// Answers GET /p from files in root(): p (body), p.status (status code), p.redirect (302 to
// the address it holds), p.hang (never answers).
class HttpServer : public ScriptServer {
public:
    HttpServer();
    std::string root() const { return root_.path().string(); }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
    // Writes root()/relPath (creating folders).
    void put(const std::string& relPath, const std::string& content) const;
    // Request paths received so far, in order.
    std::vector<std::string> requests() const;

private:
    TempDir root_;
};

}  // namespace testkit
