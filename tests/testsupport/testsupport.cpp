#include "testsupport/testsupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

std::string TmpBase() {
    const char* t = std::getenv("TMPDIR");
    return (t != nullptr && *t != '\0') ? t : "/tmp";
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

// Connects to the port; with `greeting`, also waits (up to `greetingWaitMs`) until the
// server has spoken first. A listening socket completes connections before the server
// accepts them, so only the greeting shows that start-up work (the init file) is done.
bool PortAccepts(int port, bool greeting, int greetingWaitMs) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok && greeting) {
        pollfd p{s, POLLIN, 0};
        char byte = 0;
        ok = ::poll(&p, 1, greetingWaitMs) == 1 && ::recv(s, &byte, 1, 0) == 1;
    }
    ::close(s);
    return ok;
}

bool Alive(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

// Starts a server process whose output goes to `logPath`; it dies with the test.
pid_t SpawnServer(const std::vector<std::string>& argv, const std::string& logPath) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) Fail("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void StopServer(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

void WaitForPort(int port, pid_t pid, const std::string& what, const std::string& logPath,
                 bool greeting = false) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PortAccepts(port, greeting, 1000)) return;
        if (!Alive(pid)) Fail(what + " ended at start-up:\n" + ReadFile(logPath));
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    Fail(what + " did not start listening:\n" + ReadFile(logPath));
}

std::string MariaDbTemplate() {
    const std::string base = TmpBase() + "/travik-mariadb-template-" + std::to_string(::getuid());
    const std::string ready = base + "/.ready";
    const int lockFd = ::open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) Fail("cannot create the template lock");
    ::flock(lockFd, LOCK_EX);
    if (!PathExists(ready)) {
        RemoveTree(base);
        std::filesystem::create_directories(base);
        Process::Options o;
        o.argv = {"/usr/bin/mariadb-install-db",
                  "--no-defaults",
                  "--datadir=" + base,
                  "--auth-root-authentication-method=normal",
                  "--skip-test-db",
                  "--skip-name-resolve"};
        if (::geteuid() == 0) o.argv.push_back("--user=root");
        const ProcessResult r = Run(o, std::chrono::minutes(3));
        if (r.exitStatus != 0) {
            ::close(lockFd);
            Fail("mariadb-install-db failed:\n" + r.out + r.err);
        }
        WriteFile(ready, "");
    }
    ::close(lockFd);
    return base;
}

}  // namespace

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("bind failed");
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

Process::Process(const Options& options) {
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (options.captureOutput) {
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
            Fail("pipe failed");
    }
    start_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ < 0) Fail("fork failed");
    if (pid_ == 0) {
        if (options.captureOutput) {
            ::dup2(outPipe[1], 1);
            ::dup2(errPipe[1], 2);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
        for (const auto& name : options.unsetEnv) ::unsetenv(name.c_str());
        for (const auto& [k, v] : options.env) ::setenv(k.c_str(), v.c_str(), 1);
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> args;
        for (const auto& a : options.argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (options.captureOutput) {
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
    }
}

Process::~Process() {
    if (!done_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

void Process::Signal(int signo) const {
    if (!done_) ::kill(pid_, signo);
}

void Process::Drain(int timeoutMs) {
    pollfd fds[2];
    int n = 0;
    if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
    if (n == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    if (::poll(fds, n, timeoutMs) <= 0) return;
    for (int i = 0; i < n; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buf[65536];
        const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
        std::string& sink = fds[i].fd == outFd_ ? out_ : err_;
        if (got > 0) {
            sink.append(buf, static_cast<std::size_t>(got));
        } else {
            ::close(fds[i].fd);
            (fds[i].fd == outFd_ ? outFd_ : errFd_) = -1;
        }
    }
}

const std::string& Process::OutputSoFar() {
    Drain(0);
    return out_;
}

bool Process::Exited() {
    if (!done_ && !reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return done_ || reaped_;
}

ProcessResult Process::Wait(std::chrono::milliseconds timeout) {
    if (done_) return result_;
    const auto deadline = start_ + timeout;
    int status = status_;
    bool exited = false;
    while (!exited) {
        Drain(10);
        if (reaped_ || ::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited = true;
        } else if (std::chrono::steady_clock::now() > deadline) {
            result_.timedOut = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            exited = true;
        }
    }
    result_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    // What the child wrote is there by now; a process it left behind (a Wine server,
    // say) may hold the pipes open for longer, and is not waited for.
    const auto drained = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while ((outFd_ >= 0 || errFd_ >= 0) && std::chrono::steady_clock::now() < drained) Drain(100);
    for (int* fd : {&outFd_, &errFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result_.out = out_;
    result_.err = err_;
    done_ = true;
    return result_;
}

ProcessResult Run(const Process::Options& options, std::chrono::milliseconds timeout) {
    Process p(options);
    return p.Wait(timeout);
}

MariaDbServer::MariaDbServer() : MariaDbServer(Options{}) {}

MariaDbServer::MariaDbServer(const Options& options) {
    const std::string tmpl = MariaDbTemplate();
    dir_ = std::make_unique<TempDir>("travik-mariadb");
    dataDir_ = dir_->path() + "/data";
    const ProcessResult copy = Run({.argv = {"cp", "-a", tmpl, dataDir_}});
    if (copy.exitStatus != 0) Fail("cannot copy the MariaDB template: " + copy.err);
    ::unlink((dataDir_ + "/.ready").c_str());

    std::string init =
        "CREATE USER IF NOT EXISTS 'admin'@'%' IDENTIFIED BY 'admin';\n"
        "GRANT ALL PRIVILEGES ON *.* TO 'admin'@'%' WITH GRANT OPTION;\n";
    init += options.initSql;
    WriteFile(dir_->path() + "/init.sql", init);

    port_ = FreePort();
    std::vector<std::string> argv = {"/usr/sbin/mariadbd",
                                     "--no-defaults",
                                     "--datadir=" + dataDir_,
                                     "--port=" + std::to_string(port_),
                                     "--bind-address=127.0.0.1",
                                     "--socket=" + dir_->path() + "/mysqld.sock",
                                     "--pid-file=" + dir_->path() + "/mysqld.pid",
                                     "--log-error=" + errorLogPath(),
                                     "--skip-name-resolve",
                                     "--innodb-buffer-pool-size=32M",
                                     "--innodb-log-file-size=16M",
                                     "--skip-log-bin",
                                     "--performance-schema=OFF",
                                     "--init-file=" + dir_->path() + "/init.sql"};
    if (options.generalLog) {
        argv.push_back("--general-log=1");
        argv.push_back("--general-log-file=" + generalLogPath());
        argv.push_back("--log-output=FILE");
    }
    if (::geteuid() == 0) argv.push_back("--user=root");
    for (const auto& a : options.extraArgs) argv.push_back(a);
    pid_ = SpawnServer(argv, dir_->path() + "/console.log");
    try {
        WaitForPort(port_, pid_, "mariadbd", errorLogPath(), /*greeting=*/true);
    } catch (...) {
        StopServer(pid_);
        throw;
    }
}

MariaDbServer::~MariaDbServer() {
    Stop();
}

void MariaDbServer::Stop() {
    StopServer(pid_);
}

std::string MariaDbServer::GeneralLog() const {
    return ReadFile(generalLogPath());
}

namespace {

// Parses "[yymmdd hh:mm:ss]\t<spaces><id> <Command>\t<argument>" by hand: statements can be
// megabytes long, too long for a backtracking regular expression.
bool ParseLogEntry(const std::string& line, MariaDbServer::LogEntry& entry) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto tab = line.find('\t');
    if (tab == std::string::npos) return false;
    if (tab != 0) {  // a time stamp "yymmdd hh:mm:ss"
        const std::string stamp = line.substr(0, tab);
        if (stamp.size() < 13 || stamp.size() > 16 || !isDigit(stamp[0])) return false;
    }
    std::size_t i = tab + 1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t idStart = i;
    while (i < line.size() && isDigit(line[i])) ++i;
    if (i == idStart || i >= line.size() || line[i] != ' ') return false;
    entry.connection = std::stol(line.substr(idStart, i - idStart));
    const std::size_t commandStart = ++i;
    const auto commandEnd = line.find('\t', commandStart);
    const std::string command = line.substr(commandStart, commandEnd - commandStart);
    if (command.empty() || !std::isalpha(static_cast<unsigned char>(command[0]))) return false;
    for (char c : command)
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != ' ') return false;
    entry.command = command;
    entry.argument = commandEnd == std::string::npos ? std::string() : line.substr(commandEnd + 1);
    return true;
}

}  // namespace

std::vector<MariaDbServer::LogEntry> MariaDbServer::LoggedEntries() const {
    // A statement of several lines continues on the following lines.
    std::vector<LogEntry> entries;
    std::istringstream in(GeneralLog());
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        LogEntry e;
        if (ParseLogEntry(line, e)) {
            header = false;
            entries.push_back(std::move(e));
        } else if (!header && !entries.empty()) {
            if (line.rfind("/usr/sbin/mariadbd", 0) == 0 || line.rfind("Tcp port:", 0) == 0 ||
                line.rfind("Time\t", 0) == 0)
                continue;
            entries.back().argument += "\n" + line;
        }
    }
    return entries;
}

std::vector<std::string> MariaDbServer::LoggedQueries() const {
    std::vector<std::string> queries;
    for (const auto& e : LoggedEntries())
        if (e.command == "Query") queries.push_back(e.argument);
    return queries;
}

void Openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto result = Run({.argv = argv});
    if (result.exitStatus != 0) throw std::runtime_error("openssl failed: " + result.err);
}

namespace {

const std::vector<std::string> kEcKey = {"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TestKeys::TestKeys() {
    Openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
             dir_ / "rsa.pem"});
    Openssl({"pkey", "-in", dir_ / "rsa.pem", "-pubout", "-out", dir_ / "rsa-spki.pem"});
    Openssl({"pkey", "-in", dir_ / "rsa.pem", "-pubout", "-outform", "DER", "-out",
             dir_ / "rsa-spki.der"});
    Openssl({"rsa", "-in", dir_ / "rsa.pem", "-RSAPublicKey_out", "-out", dir_ / "rsa-pkcs1.pem"});
    Openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
             dir_ / "ec.pem"});
    Openssl({"ec", "-in", dir_ / "ec.pem", "-out", dir_ / "ec-sec1.pem"});
    Openssl({"pkey", "-in", dir_ / "ec.pem", "-pubout", "-out", dir_ / "ec-spki.pem"});
    Openssl({"pkey", "-in", dir_ / "ec.pem", "-pubout", "-outform", "DER", "-out",
             dir_ / "ec-spki.der"});
}

TestCertificates::TestCertificates() {
    ca_ = dir_ / "ca.pem";
    otherCa_ = dir_ / "other-ca.pem";
    Openssl(Joined(
        Joined({"req", "-x509"}, kEcKey),
        {"-keyout", dir_ / "ca.key", "-out", ca_, "-days", "2", "-subj", "/CN=Travik Test CA"}));
    Openssl(Joined(Joined({"req", "-x509"}, kEcKey),
                   {"-keyout", dir_ / "other-ca.key", "-out", otherCa_, "-days", "2", "-subj",
                    "/CN=Travik Other CA"}));
}

TestCertificates::Issued TestCertificates::Issue(const Request& request) {
    const std::string base = dir_ / ("server" + std::to_string(++issued_));
    Issued issued{base + ".pem", base + ".key"};
    Openssl(Joined(Joined({"req"}, kEcKey), {"-keyout", issued.key, "-out", base + ".csr", "-subj",
                                             "/CN=" + request.commonName}));
    std::string extensions = request.extensions + "\n";
    if (!request.subjectAltName.empty())
        extensions += "subjectAltName=" + request.subjectAltName + "\n";
    WriteFile(base + ".ext", extensions);
    const std::string ca = request.issuer != nullptr ? request.issuer->cert : ca_;
    const std::string caKey = request.issuer != nullptr ? request.issuer->key : dir_ / "ca.key";
    if (request.startDate.empty()) {
        Openssl({"x509", "-req", "-in", base + ".csr", "-CA", ca, "-CAkey", caKey,
                 "-CAcreateserial", "-out", issued.cert, "-days", "2", "-extfile", base + ".ext"});
        return issued;
    }
    // Dates of its own take the CA command, with a database of its own.
    WriteFile(base + ".index", "");
    WriteFile(base + ".cnf", "[ca]\ndefault_ca = test\n[test]\ndatabase = " + base +
                                 ".index\nnew_certs_dir = " + dir_.path() + "\nserial = " + base +
                                 ".serial\ndefault_md = sha256\npolicy = any\n"
                                 "unique_subject = no\n[any]\ncommonName = supplied\n");
    // A serial of its own: two certificates of one issuer with the same serial are one
    // certificate to a client that caches them (Wine's chain engine does).
    char serial[17];
    std::snprintf(serial, sizeof serial, "%016llX",
                  static_cast<unsigned long long>(std::random_device{}()) << 32 | issued_);
    WriteFile(base + ".serial", std::string(serial) + "\n");
    Openssl({"ca", "-batch", "-notext", "-config", base + ".cnf", "-cert", ca, "-keyfile", caKey,
             "-in", base + ".csr", "-out", issued.cert, "-startdate", request.startDate, "-enddate",
             request.endDate, "-extfile", base + ".ext"});
    return issued;
}

TestCertificates::Issued TestCertificates::Issue(const std::string& commonName,
                                                 const std::string& subjectAltName,
                                                 bool byOtherCa) {
    const std::string base = dir_ / ("server" + std::to_string(++issued_));
    Issued issued{base + ".pem", base + ".key"};
    Openssl(Joined(Joined({"req"}, kEcKey),
                   {"-keyout", issued.key, "-out", base + ".csr", "-subj", "/CN=" + commonName}));
    WriteFile(base + ".ext", "subjectAltName=" + subjectAltName + "\n");
    const std::string ca = byOtherCa ? otherCa_ : ca_;
    const std::string caKey = dir_ / (byOtherCa ? "other-ca.key" : "ca.key");
    Openssl({"x509", "-req", "-in", base + ".csr", "-CA", ca, "-CAkey", caKey, "-CAcreateserial",
             "-out", issued.cert, "-days", "2", "-extfile", base + ".ext"});
    return issued;
}

NginxServer::NginxServer(const std::string& root, const std::string& extraServerConfig,
                         const NginxTls* tls)
    : tls_(tls != nullptr) {
    dir_ = std::make_unique<TempDir>("travik-nginx");
    const std::string d = dir_->path();
    port_ = FreePort();
    std::string conf;
    if (::geteuid() == 0) conf += "user root;\n";
    conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log;\n";
    // Room for a fleet of agents fetching at once (bench_agent_burst: 1000 and more).
    conf += "events { worker_connections 4096; }\n";
    conf += "http {\n";
    conf += "  default_type application/octet-stream;\n";
    conf +=
        "  log_format travik "
        "'$request_method|$request_uri|$http_range|$status|$body_bytes_sent|$http_via';\n";
    conf += "  access_log " + d + "/access.log travik;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string("  ") + t + "_temp_path " + d + "/" + t + ";\n";
    conf += "  sendfile on;\n  keepalive_timeout 5;\n";
    conf +=
        "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + (tls_ ? " ssl" : "") + ";\n";
    if (tls_) {
        conf +=
            "    ssl_certificate " + tls->cert + ";\n    ssl_certificate_key " + tls->key + ";\n";
        if (!tls->protocols.empty()) conf += "    ssl_protocols " + tls->protocols + ";\n";
        if (!tls->ciphers.empty()) conf += "    ssl_ciphers " + tls->ciphers + ";\n";
    }
    conf += "    root " + root + ";\n" + extraServerConfig + "\n  }\n}\n";
    WriteFile(d + "/nginx.conf", conf);
    pid_ =
        SpawnServer({"/usr/sbin/nginx", "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf"},
                    d + "/console.log");
    try {
        WaitForPort(port_, pid_, "nginx", d + "/error.log");
    } catch (...) {
        StopServer(pid_);
        throw;
    }
}

NginxServer::~NginxServer() {
    StopServer(pid_);
}

std::string NginxServer::url(const std::string& path) const {
    return (tls_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port_) +
           (path.empty() || path[0] != '/' ? "/" : "") + path;
}

std::string NginxServer::accessLogPath() const {
    return dir_->path() + "/access.log";
}

std::vector<NginxServer::LogEntry> NginxServer::AccessLog() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<LogEntry> entries;
    std::istringstream in(ReadFile(accessLogPath()));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            const auto bar = line.find('|', start);
            f.push_back(line.substr(start, bar - start));
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        if (f.size() != 6) continue;
        entries.push_back(
            {f[0], f[1], f[2] == "-" ? "" : f[2], f[3], f[4], f[5] == "-" ? "" : f[5]});
    }
    return entries;
}

TinyProxy::TinyProxy(const Options& options) {
    dir_ = std::make_unique<TempDir>("travik-tinyproxy");
    const std::string d = dir_->path();
    port_ = FreePort();
    // No ConnectPort line: tunnels to every port (the test servers' ports are random).
    std::string conf = "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 30\n";
    conf += "LogFile \"" + d + "/tinyproxy.log\"\nLogLevel Info\n";
    conf += "PidFile \"" + d + "/tinyproxy.pid\"\nMaxClients 50\n";
    if (!options.user.empty()) conf += "BasicAuth " + options.user + " " + options.password + "\n";
    WriteFile(d + "/tinyproxy.conf", conf);
    pid_ =
        SpawnServer({"/usr/bin/tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, d + "/console.log");
    try {
        WaitForPort(port_, pid_, "tinyproxy", d + "/tinyproxy.log");
    } catch (...) {
        StopServer(pid_);
        throw;
    }
}

TinyProxy::~TinyProxy() {
    StopServer(pid_);
}

std::vector<std::string> TinyProxy::Requests() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<std::string> requests;
    std::istringstream in(ReadFile(dir_->path() + "/tinyproxy.log"));
    std::string line;
    // "CONNECT   Dec 09 18:54:50.320 [14185]: Request (file descriptor 5): GET http://..."
    const std::string marker = "): ";
    while (std::getline(in, line)) {
        const auto at = line.find("]: Request (file descriptor ");
        if (at == std::string::npos) continue;
        const auto start = line.find(marker, at + 3);
        if (start != std::string::npos) requests.push_back(line.substr(start + marker.size()));
    }
    return requests;
}

std::string LoopbackHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) Fail("gethostname failed");
    // Tests talk to 127.0.0.1 only: the name must lead there.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0)
        Fail(std::string("the host name ") + name + " does not resolve");
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool loopback = ntohl(in->sin_addr.s_addr) == INADDR_LOOPBACK;
    ::freeaddrinfo(found);
    if (!loopback) Fail(std::string("the host name ") + name + " does not resolve to 127.0.0.1");
    return name;
}

std::string AgentBinary() {
#ifdef TRAVIK_AGENT_BINARY
    return TRAVIK_AGENT_BINARY;
#else
    const char* p = std::getenv("TRAVIK_AGENT_BINARY");
    return p != nullptr ? p : "TravikVersoes";
#endif
}

}  // namespace testsupport
