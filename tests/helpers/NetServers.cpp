#include "helpers/NetServers.h"
#include "helpers/Process.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testkit {

namespace fs = std::filesystem;

namespace {

std::string readFileOr(const std::string& path, const std::string& fallback)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fallback;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void run(const std::string& command)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string str(const QJsonValue& value)
{
    return value.toString().toStdString();
}

}  // namespace

int freeLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("no free local port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

ScriptServer::ScriptServer(std::string script, std::vector<std::string> args)
    : script_(std::string(ONDRIX_TESTKIT_DIR) + "/" + std::move(script)), args_(std::move(args))
{
    fs::create_directories(out());
}

ScriptServer::~ScriptServer()
{
    stop();
}

void ScriptServer::start(int Port)
{
    if (running())
        return;
    std::error_code ec;
    fs::remove(out() + "/port", ec);
    std::vector<std::string> argv = {"/usr/bin/python3", script_, "--out", out(), "--port", std::to_string(Port)};
    argv.insert(argv.end(), args_.begin(), args_.end());
    pid_ = spawnProcess(argv, dir_.file("server.log"));
    const bool up = pollUntil([&] { return fs::exists(out() + "/port"); }, std::chrono::seconds(60));
    if (!up) {
        stop();
        throw std::runtime_error("server did not start: " + script_ + "\n" + readFileOr(dir_.file("server.log"), ""));
    }
    port_ = std::stoi(readFileOr(out() + "/port", "0"));
}

void ScriptServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

TestCertificates::TestCertificates()
{
    const std::string d = dir.path().string();
    caFile = d + "/ca.pem";
    otherCaFile = d + "/other-ca.pem";
    certFile = d + "/server.pem";
    keyFile = d + "/server.key";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    writeText(d + "/ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n");
    writeText(d + "/server.ext", "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                 "extendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n");
    run("openssl req -x509" + ec + " -keyout " + d + "/ca.key -out " + caFile
        + " -days 2 -subj /CN=Ondrix-Test-CA -addext basicConstraints=critical,CA:TRUE"
          " -addext keyUsage=critical,keyCertSign,cRLSign");
    run("openssl req -x509" + ec + " -keyout " + d + "/other-ca.key -out " + otherCaFile
        + " -days 2 -subj /CN=Other-Test-CA -addext basicConstraints=critical,CA:TRUE"
          " -addext keyUsage=critical,keyCertSign,cRLSign");
    run("openssl req" + ec + " -keyout " + keyFile + " -out " + d + "/server.csr -subj /CN=localhost");
    run("openssl x509 -req -in " + d + "/server.csr -CA " + caFile + " -CAkey " + d
        + "/ca.key -CAcreateserial -out " + certFile + " -days 2 -extfile " + d + "/server.ext");
}

namespace {

std::vector<std::string> smtpArgs(const SmtpServerOptions& options)
{
    std::vector<std::string> args;
    if (options.tls != SmtpServerOptions::Tls::None) {
        args.insert(args.end(), {"--cert", options.certFile, "--key", options.keyFile});
        args.push_back(options.tls == SmtpServerOptions::Tls::Implicit ? "--implicit-tls" : "--starttls");
    }
    if (!options.user.empty())
        args.insert(args.end(), {"--user", options.user, "--password", options.password});
    args.insert(args.end(), {"--mechanisms", options.mechanisms});
    for (const auto& address : options.rejectRecipients)
        args.insert(args.end(), {"--reject-rcpt", address});
    return args;
}

}  // namespace

SmtpServer::SmtpServer(const SmtpServerOptions& options)
    : ScriptServer("smtp_server.py", smtpArgs(options))
{
}

std::vector<ReceivedMail> SmtpServer::mails() const
{
    std::vector<ReceivedMail> result;
    const QDir folder(QString::fromStdString(out()));
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        ReceivedMail mail;
        mail.mailFrom = str(o["mail_from"]);
        for (const QJsonValue& to : o["rcpt_tos"].toArray())
            mail.rcptTos.push_back(str(to));
        mail.subject = str(o["subject"]);
        mail.body = str(o["body"]);
        mail.rawHeaders = str(o["raw_headers"]);
        mail.contentType = str(o["content_type"]);
        mail.charset = str(o["charset"]);
        mail.from = str(o["from"]);
        mail.to = str(o["to"]);
        mail.xMailer = str(o["x_mailer"]);
        mail.date = str(o["date"]);
        mail.messageId = str(o["message_id"]);
        mail.tls = o["tls"].toBool();
        mail.authMechanism = str(o["auth_mechanism"]);
        mail.authUser = str(o["auth_user"]);
        result.push_back(std::move(mail));
    }
    return result;
}

bool SmtpServer::waitForMails(size_t count, int timeoutSeconds) const
{
    const QDir folder(QString::fromStdString(out()));
    return pollUntil([&] { return size_t(folder.entryList({QStringLiteral("*.json")}, QDir::Files).size()) >= count; },
                     std::chrono::seconds(timeoutSeconds));
}

int SmtpServer::maxSessions() const
{
    return std::stoi(readFileOr(out() + "/max_sessions", "0"));
}

HttpServer::HttpServer()
    : ScriptServer("http_server.py", {})
{
    args() = {"--root", root()};
}

void HttpServer::put(const std::string& relPath, const std::string& content) const
{
    const fs::path path = root_.path() / relPath;
    fs::create_directories(path.parent_path());
    writeText(path.string(), content);
}

std::vector<std::string> HttpServer::requests() const
{
    std::vector<std::string> result;
    std::ifstream in(out() + "/requests");
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            result.push_back(line);
    return result;
}

}  // namespace testkit
