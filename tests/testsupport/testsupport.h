// Test helpers: temporary folders, free loopback ports, child processes, and real
// MariaDB, nginx and tinyproxy servers started on 127.0.0.1 with private data folders.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "travik");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
bool PathExists(const std::string& path);
void RemoveTree(const std::string& path);

}  // namespace testsupport

// Processes and servers: the test hosts are POSIX (a Windows program under test is run
// from there through Wine).
#if !defined(_WIN32)
#include <sys/types.h>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();

struct ProcessResult {
    int exitStatus = -1;  // exit code, or 128 + signal number
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
    bool timedOut = false;
};

// A child process with captured standard output and error.
class Process {
  public:
    struct Options {
        std::vector<std::string> argv;
        std::map<std::string, std::string> env;  // added to (or replacing) the parent's
        std::vector<std::string> unsetEnv;
        std::string cwd;
        bool captureOutput = true;
    };
    explicit Process(const Options& options);
    ~Process();  // kills a child that still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    void Signal(int signo) const;
    // Waits for the end (killing the child after `timeout`) and collects its output.
    ProcessResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));
    // Whether the child has ended (without waiting; Wait then gives its result).
    bool Exited();
    // Output captured so far (reads what is available without waiting).
    const std::string& OutputSoFar();

  private:
    void Drain(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::chrono::steady_clock::time_point start_;
    bool done_ = false;
    bool reaped_ = false;
    int status_ = 0;
    ProcessResult result_;
};

// Runs a command to its end.
ProcessResult Run(const Process::Options& options,
                  std::chrono::milliseconds timeout = std::chrono::seconds(120));

// A private MariaDB server on 127.0.0.1. The first use on a machine initialises a data
// folder template (kept in $TMPDIR); each server copies it, so starting takes a second.
// An administrator account `admin`/`admin` (native password, any host) exists.
class MariaDbServer {
  public:
    struct Options {
        std::vector<std::string> extraArgs;  // e.g. "--max-allowed-packet=64M"
        std::string initSql;                 // statements run at start-up (init-file)
        bool generalLog = true;              // statements logged to generalLogPath()
    };
    MariaDbServer();
    explicit MariaDbServer(const Options& options);
    ~MariaDbServer();
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    int port() const { return port_; }
    const std::string& dataDir() const { return dataDir_; }
    std::string generalLogPath() const { return dataDir_ + "/general.log"; }
    std::string errorLogPath() const { return dataDir_ + "/error.log"; }
    // Contents of the general log (statements as the server received them).
    std::string GeneralLog() const;
    struct LogEntry {
        long connection = 0;
        std::string command;   // "Connect", "Query", "Init DB", "Quit", ...
        std::string argument;  // the statement for "Query" (lines joined with "\n")
    };
    std::vector<LogEntry> LoggedEntries() const;
    // Just the statements of the Query entries, in order.
    std::vector<std::string> LoggedQueries() const;
    void Stop();

    static constexpr const char* kAdminUser = "admin";
    static constexpr const char* kAdminPassword = "admin";

  private:
    std::string dataDir_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::unique_ptr<TempDir> dir_;
};

// Runs the openssl command-line tool; throws with its error output when it fails.
void Openssl(const std::vector<std::string>& args);

// Certificates made at test time with the openssl tool (EC P-256, valid two days): a
// test CA, another CA unrelated to it, and server certificates signed by either.
class TestCertificates {
  public:
    TestCertificates();
    const std::string& ca() const { return ca_; }
    const std::string& otherCa() const { return otherCa_; }
    struct Issued {
        std::string cert, key;
    };
    // A server certificate for `commonName` with the subject alternative names
    // `subjectAltName` (e.g. "IP:127.0.0.1,DNS:localhost"), signed by the test CA or by
    // the other one.
    Issued Issue(const std::string& commonName, const std::string& subjectAltName,
                 bool byOtherCa = false);
    // A certificate of the test CA, or of `issuer`, with more extension lines (e.g.
    // "extendedKeyUsage=clientAuth", "basicConstraints=critical,CA:TRUE") and, when given,
    // its own validity dates (YYMMDDHHMMSSZ).
    struct Request {
        std::string commonName, subjectAltName, extensions;
        std::string startDate, endDate;
        const Issued* issuer = nullptr;
    };
    Issued Issue(const Request& request);
    std::string operator/(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_{"travik-certs"};
    std::string ca_, otherCa_;
    int issued_ = 0;
};

// Key pairs made at test time with the openssl tool, in the forms the public-key
// operations take: "rsa.pem" (RSA 2048, private), "rsa-spki.pem" ("BEGIN PUBLIC KEY"),
// "rsa-pkcs1.pem" ("BEGIN RSA PUBLIC KEY"), "rsa-spki.der"; "ec.pem" (P-256, PKCS#8),
// "ec-sec1.pem" ("BEGIN EC PRIVATE KEY"), "ec-spki.pem", "ec-spki.der".
class TestKeys {
  public:
    TestKeys();
    std::string operator/(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_{"travik-keys"};
};

// TLS for an nginx server: its certificate and key, and the protocol versions and
// ciphers it offers (nginx's defaults when empty).
struct NginxTls {
    std::string cert, key;
    std::string protocols;
    std::string ciphers;
};

// A private nginx serving `root` on 127.0.0.1 (over TLS when `tls` is given); its
// access log records each request with the Range header and status.
class NginxServer {
  public:
    explicit NginxServer(const std::string& root, const std::string& extraServerConfig = "",
                         const NginxTls* tls = nullptr);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    struct LogEntry {
        std::string method, uri, range, status, bytesSent;
        std::string via;  // the Via header a proxy adds to a request it forwards
    };
    // Access log lines so far (waits briefly for nginx to write them).
    std::vector<LogEntry> AccessLog() const;
    // The entries after the first `mark` ones (a mark taken as AccessLog().size()).
    std::vector<LogEntry> AccessLogSince(std::size_t mark) const {
        auto log = AccessLog();
        return {log.begin() + static_cast<long>(std::min(mark, log.size())), log.end()};
    }
    std::string accessLogPath() const;

  private:
    std::unique_ptr<TempDir> dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool tls_ = false;
};

// A private tinyproxy on 127.0.0.1 (never the system's service): forwards http requests
// and opens CONNECT tunnels to any port; with a user it asks for Basic credentials (407
// without them, 401 for wrong ones).
class TinyProxy {
  public:
    struct Options {
        std::string user, password;
    };
    TinyProxy() : TinyProxy(Options{}) {}
    explicit TinyProxy(const Options& options);
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The request lines it received, in order ("GET http://host:port/path HTTP/1.0",
    // "CONNECT host:port HTTP/1.1"); waits briefly for its log.
    std::vector<std::string> Requests() const;

  private:
    std::unique_ptr<TempDir> dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// This machine's own name, which resolves to 127.0.0.1 here without being "localhost" or
// a loopback literal (those always go direct, so a proxy test names the origin by it).
std::string LoopbackHostName();

// Path of the agent binary built with the tests.
std::string AgentBinary();

}  // namespace testsupport

#endif
