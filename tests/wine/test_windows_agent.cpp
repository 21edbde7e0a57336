// The Windows agent under Wine against this host's MariaDB and nginx, used as a person
// would through travik-user.exe: the tray icon and its menu, the progress window during a
// slow transfer, the alert after a download, and the error box of a failed run. With
// TRAVIK_SCREENSHOT_DIR set, the screens a person sees are saved there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "../agent/AgentRun.h"
#include "../agent/DatabaseRows.h"
#include "platform/text.h"
#include "testsupport/ScriptedMysql.h"
#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WineSession;
using testsupport::mysql::ScriptedMysql;

constexpr std::size_t kSlowSize = 1600 * 1024;

// A folder with a copy of the Windows agent, as an installation has it.
// `program` is the agent as built, or TravikVersoesSigned.exe, the agent built with the
// tests' publisher's keys.
class WindowsAgentFolder {
  public:
    explicit WindowsAgentFolder(const std::string& program = "TravikVersoes.exe")
        : dir_("travik-win-agent") {
        std::filesystem::copy_file(std::string(TRAVIK_WINDOWS_BUILD_DIR) + "/" + program,
                                   dir_ / "TravikVersoes.exe");
        std::filesystem::create_directory(dir_ / "Atualizacao_retaguarda");
    }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    std::string Ini() const { return dir_ / "Atualizacao_retaguarda/versao.ini"; }
    // The agent's arguments for a system; argument 5 is a Windows path below the folder.
    std::vector<std::string> Args(int sistema) const {
        return {"2000100000014", "2.1.0.14", std::to_string(sistema), "42",
                WineSession::WindowsPath(dir_ / "Versões\\trabalho")};
    }
    testsupport::Process::Options Options(const WineSession& wine, int sistema, int dbPort,
                                          int startDelayMs = 0) const {
        return Options(wine, Args(sistema), dbPort, startDelayMs);
    }
    testsupport::Process::Options Options(const WineSession& wine,
                                          const std::vector<std::string>& args, int dbPort,
                                          int startDelayMs = 0) const {
        return wine.Options(dir_ / "TravikVersoes.exe", args,
                            {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(dbPort)},
                             {"TRAVIK_START_DELAY_MS", std::to_string(startDelayMs)}},
                            dir_.path());
    }

  private:
    testsupport::TempDir dir_;
};

class WindowsAgent : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        std::filesystem::create_directory(*www_ / "lento");
        testsupport::WriteFile(*www_ / "pacote.zip", std::string(300000, 'p') + "fim");
        std::string slow(kSlowSize, '\0');
        for (std::size_t i = 0; i < slow.size(); ++i)
            slow[i] = static_cast<char>((i * 2654435761u) >> 13);
        testsupport::WriteFile(*www_ / "lento/grande.bin", slow);
        // Plain requests under /lento/ are slow, so the agent can be stopped half-way.
        web_ = std::make_unique<testsupport::NginxServer>(www_->path(),
                                                          "    location /lento/ {\n"
                                                          "      limit_rate 64k;\n"
                                                          "    }\n");
        const std::string md5 = agenttest::Md5Sum(*www_ / "pacote.zip");
        std::string rows;
        rows += agenttest::InsertVersion(
            {1, 1, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), md5, "pacote.zip"});
        rows += agenttest::InsertVersion(
            {2, 2, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), std::string(32, '0'), "pacote.zip"});
        rows +=
            agenttest::InsertVersion({3, 3, 0, 2, 1, 0, 15, web_->url("/lento/grande.bin"),
                                      agenttest::Md5Sum(*www_ / "lento/grande.bin"), "grande.bin"});
        // A package whose name and link hold accents (of the ANSI code page 1252).
        std::filesystem::create_directory(*www_ / "Versões");
        testsupport::WriteFile(*www_ / "Versões/pacote ção.zip", "pacote ção");
        rows += agenttest::InsertVersion(
            {4, 4, 0, 2, 1, 0, 15, web_->url("/Versões/pacote ção.zip"),
             agenttest::Md5Sum(*www_ / "Versões/pacote ção.zip"), "Versão ç.zip"});
        // Signed for the agent built with keys: well; another program with its digest
        // changed to match; not at all.
        testsupport::WriteFile(*www_ / "trocado.zip", "outro programa");
        const std::string signature = agenttest::OpensslSign(
            "publisher-1.pem",
            agenttest::PackageMessage(5, 0, "2000100000015", "pacote.zip", *www_ / "pacote.zip"));
        rows += agenttest::InsertVersion(
            {5, 5, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), md5, "pacote.zip", signature});
        rows += agenttest::InsertVersion({6, 6, 0, 2, 1, 0, 15, web_->url("/trocado.zip"),
                                          agenttest::Md5Sum(*www_ / "trocado.zip"), "pacote.zip",
                                          signature});
        rows += agenttest::InsertVersion(
            {7, 7, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), md5, "pacote.zip"});
        rows += agenttest::InsertVersion(
            {8, 8, 0, 2, 1, 0, 15, web_->url("/nao-existe.zip"), md5, "pacote.zip"});
        // A name that the ANSI code page of versao.ini cannot hold.
        rows += agenttest::InsertVersion(
            {9, 9, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), md5, "pacote \U0001F600.zip"});
        db_ = agenttest::StartUpdateDatabase(rows);
        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        db_.reset();
        web_.reset();
        www_.reset();
    }
    // A failed test leaves a screenshot and the list of windows.
    void TearDown() override {
        if (!HasFailure()) return;
        wine_->Screenshot(std::string(::testing::TempDir()) + "/" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png");
        std::cerr << "Windows:\n" << wine_->User({"list"}).out;
    }
    // travik-user's description of a window and its controls ("" when it is not there).
    static std::string Show(const std::string& windowClass, int waitMs = 0) {
        const auto r = wine_->User({"show", windowClass, "", std::to_string(waitMs)});
        return r.exitStatus == 0 ? r.out : std::string();
    }
    // Waits up to `ms` for the window's description to contain `text`.
    static std::string ShowWith(const std::string& windowClass, const std::string& text,
                                int ms = 10000) {
        std::string shown;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
            shown = Show(windowClass);
            if (shown.find(text) != std::string::npos) break;
        }
        return shown;
    }
    // travik-user's answer on the tray icon: "<window> icon" or "<window> no icon". An
    // answer-less run (Wine, busy beside other tests, now and then ends a start with 1 and
    // no output) is asked again.
    static testsupport::ProcessResult AskIcon(const std::vector<std::string>& args) {
        testsupport::ProcessResult r;
        for (int attempt = 0; attempt < 3; ++attempt) {
            r = wine_->User(args);
            if (r.out.find("icon") != std::string::npos) break;
            std::this_thread::sleep_for(500ms);
        }
        return r;
    }
    // The tray icon's owner window, once the icon is in the notification area.
    static std::string TrayIconOwner() {
        // A program's first start in a new Wine desktop can take a while.
        EXPECT_EQ(wine_->User({"wait", "TravikVersoesTrayIcon", "", "60000"}).exitStatus, 0);
        const auto r = AskIcon({"icon"});
        EXPECT_EQ(r.exitStatus, 0) << "no tray icon: " << r.out << r.err;
        return r.out.substr(0, r.out.find(' '));
    }
    static bool TrayIconLeft(const std::string& owner) {
        return AskIcon({"icon", owner}).exitStatus == 0;
    }
    // "Fechar" from the tray icon's menu.
    static void ChooseFechar() {
        EXPECT_EQ(wine_->User({"tray", "517"}).exitStatus, 0);
        EXPECT_EQ(wine_->User({"menu", "2", "10000"}).exitStatus, 0);
    }
    // Saves what the screen shows (or the part `crop` names) when screenshots are asked for.
    static void Snapshot(const std::string& name, const std::string& crop) {
        if (const char* dir = std::getenv("TRAVIK_SCREENSHOT_DIR"))
            wine_->Screenshot(std::string(dir) + "/" + name + ".png", crop);
    }
    // The error box's texts (caption, then the button and the message), after which the
    // user dismisses it: the agent stays in the tray until "Fechar", or the end of the
    // Windows session, ends it.
    static std::string ReadAndDismissErrorBox(const std::string& snapshot = "",
                                              bool endSession = false) {
        const auto box = wine_->User({"wait", "#32770", "TravikVersoes", "60000"});
        EXPECT_EQ(box.exitStatus, 0) << "no error box";
        // The picture is cut to the box, whose size follows its message.
        std::smatch at;
        const std::string look = snapshot.empty() ? "" : Show("#32770");
        if (std::regex_search(look, at, std::regex(R"(^#32770\|visible\|(\d+),(\d+),(\d+),(\d+))")))
            Snapshot(snapshot, at.str(3) + "x" + at.str(4) + "+" + at.str(1) + "+" + at.str(2));
        const std::string owner = TrayIconOwner();
        EXPECT_EQ(wine_->User({"click", "#32770", "TravikVersoes", "OK"}).exitStatus, 0);
        EXPECT_EQ(wine_->User({"gone", "#32770", "TravikVersoes", "10000"}).exitStatus, 0);
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(TrayIconLeft(owner)) << "the agent left the tray after the error box";
        if (endSession)
            EXPECT_EQ(wine_->User({"endsession"}).exitStatus, 0);
        else
            ChooseFechar();
        EXPECT_EQ(wine_->User({"gone", "TravikVersoesTrayIcon", "", "30000"}).exitStatus, 0);
        EXPECT_FALSE(TrayIconLeft(owner));
        return box.out;
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
    static inline std::unique_ptr<WineSession> wine_;
};

bool WaitForSize(const std::string& path, std::uintmax_t bytes) {
    for (int i = 0; i < 3000; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) >= bytes && !ec) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(WindowsAgent, AWholeUpdateRunEndsOnceItsAlertHasGone) {
    WindowsAgentFolder agent;
    testsupport::Process run(agent.Options(*wine_, 1, db_->port(), 6000));
    // At start: the tray icon, and the form hidden, with no taskbar button.
    const std::string owner = TrayIconOwner();
    const std::string hidden = Show("TfTravikVersoes", 10000);
    EXPECT_EQ(hidden.rfind("TfTravikVersoes|hidden|", 0), 0u) << hidden;
    EXPECT_NE(hidden.substr(0, hidden.find('\n')).find("|toolwindow"), std::string::npos) << hidden;
    // When the shell restarts, the icon comes back.
    EXPECT_EQ(wine_->User({"newtaskbar"}).exitStatus, 0);
    EXPECT_TRUE(TrayIconLeft(owner)) << "no icon after TaskbarCreated";
    // A double click on the icon shows the form with its own taskbar button.
    EXPECT_EQ(wine_->User({"tray", "515"}).exitStatus, 0);
    const std::string shown = ShowWith("TfTravikVersoes", "|visible|");
    EXPECT_EQ(shown.rfind("TfTravikVersoes|visible|0,0,431,112|fTravikVersoes|appwindow\n", 0), 0u)
        << shown;

    // The alert, in the corner beside the taskbar, while the process still runs.
    const auto alert = wine_->User({"wait", "TravikVersoesAlert", "", "60000"});
    ASSERT_EQ(alert.exitStatus, 0);
    EXPECT_EQ(alert.out,
              "Travik Versões\nTravik Versões\nDownload Concluido. Feche e abra o sistema "
              "novamente para concluir a instalação.\n");
    const std::string look = ShowWith("TravikVersoesAlert", "|alpha=190");
    std::smatch at;
    ASSERT_TRUE(std::regex_search(
        look, at,
        std::regex(
            R"(^TravikVersoesAlert\|visible\|(\d+),(\d+),(\d+),(\d+)\|Travik Versões\|toolwindow\|topmost\|alpha=190)")))
        << look;
    EXPECT_EQ(std::stoi(at[1]) + std::stoi(at[3]), 1280) << look;
    EXPECT_EQ(std::stoi(at[2]) + std::stoi(at[4]), 780) << "not above the taskbar: " << look;
    EXPECT_FALSE(run.Exited());
    // While the mouse is over it, it is brighter and stays past its display time.
    EXPECT_EQ(wine_->User({"hover", "TravikVersoesAlert", ""}).exitStatus, 0);
    EXPECT_NE(ShowWith("TravikVersoesAlert", "|alpha=250").find("|alpha=250"), std::string::npos);
    std::this_thread::sleep_for(8s);
    EXPECT_NE(Show("TravikVersoesAlert"), "") << "the alert went while the mouse was over it";
    // Once the mouse leaves, its time starts again; it slides out, then the process ends.
    EXPECT_EQ(wine_->User({"hover", "TravikVersoesAlert", "off"}).exitStatus, 0);
    const auto left = std::chrono::steady_clock::now();
    EXPECT_EQ(wine_->User({"gone", "TravikVersoesAlert", "", "15000"}).exitStatus, 0);
    const auto shownFor = std::chrono::steady_clock::now() - left;
    EXPECT_GE(shownFor, 7s);
    const auto r = run.Wait(300s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(TrayIconLeft(owner));

    EXPECT_TRUE(std::filesystem::is_directory(agent / "Versões/trabalho"));
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"),
              testsupport::ReadFile(*www_ / "pacote.zip"));
    // CR LF lines and the package's Windows path.
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("2000100000015", WineSession::WindowsPath(agent / "pacote.zip")));
    const auto queries = db_->LoggedQueries();
    bool replaced = false;
    for (const auto& q : queries)
        if (q.find("REPLACE INTO controle_versao") == 0 &&
            q.find("(42, \"2.1.0.14\",\"") != std::string::npos &&
            q.find("\", 1, now())") != std::string::npos)
            replaced = true;
    EXPECT_TRUE(replaced) << ::testing::PrintToString(queries);
    EXPECT_NE(std::find_if(queries.begin(), queries.end(),
                           [](const std::string& q) {
                               return q.find("codigo_cliente = 42 ORDER BY id ASC") !=
                                      std::string::npos;
                           }),
              queries.end());
}

TEST_F(WindowsAgent, AFailedPackageEndsInTheErrorBoxWithItsCauseAfterThreeDownloads) {
    std::string md5 = agenttest::Md5Sum(*www_ / "pacote.zip");
    for (char& c : md5) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        int sistema;
        std::string nome, motivo;
        std::size_t downloads;
    } cases[] = {
        {2, "pacote.zip", "MD5 esperado " + std::string(32, '0') + ", obtido " + md5 + ".", 3},
        {8, "pacote.zip",
         "o servidor respondeu 404 Not Found (" + web_->url("/nao-existe.zip") + ")", 3},
        {9, "pacote \U0001F600.zip",
         "o arquivo não poderia ser registrado em versao.ini: The ANSI code page 1252 has no "
         "character \U0001F600 (U+1F600)",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sistema);
        WindowsAgentFolder agent;
        const std::size_t mark = web_->AccessLog().size();
        testsupport::Process run(agent.Options(*wine_, c.sistema, db_->port()));
        const std::string box = ReadAndDismissErrorBox(c.sistema == 8 ? "error-box" : "");
        // The first line as before, the cause on the next.
        EXPECT_NE(
            box.find("Erro ao fazer o download do arquivo " + c.nome + "\nMotivo: " + c.motivo),
            std::string::npos)
            << box;
        const auto r = run.Wait(60s);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(web_->AccessLogSince(mark).size(), c.downloads);
        EXPECT_FALSE(testsupport::PathExists(agent / c.nome));
        EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
    }
}

TEST_F(WindowsAgent, WithThePublishersKeysOnlyAPackageSignedForItsRowIsTaken) {
    {
        WindowsAgentFolder agent("TravikVersoesSigned.exe");
        testsupport::Process run(agent.Options(*wine_, 5, db_->port()));
        EXPECT_EQ(wine_->User({"wait", "TravikVersoesAlert", "", "60000"}).exitStatus, 0);
        EXPECT_EQ(wine_->User({"rclick", "TravikVersoesAlert", ""}).exitStatus, 0);
        const auto r = run.Wait(120s);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(
            testsupport::ReadFile(agent.Ini()),
            agenttest::IniText("2000100000015", WineSession::WindowsPath(agent / "pacote.zip")));
    }
    for (const int sistema : {6, 7}) {  // another program; no signature
        WindowsAgentFolder agent("TravikVersoesSigned.exe");
        const std::size_t mark = web_->AccessLog().size();
        testsupport::Process run(agent.Options(*wine_, sistema, db_->port()));
        const std::string box = ReadAndDismissErrorBox();
        const std::string motivo =
            sistema == 6 ? "nenhuma chave do publicador aceita a assinatura deste arquivo para "
                           "esta versão e este cliente."
                         : "a versão não tem assinatura no banco de dados.";
        EXPECT_NE(box.find("Assinatura inválida do arquivo pacote.zip\nMotivo: " + motivo),
                  std::string::npos)
            << box;
        EXPECT_EQ(run.Wait(60s).exitStatus, 1);
        EXPECT_EQ(web_->AccessLogSince(mark).size(), 1u);
        EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip"));
        EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
    }
}

// The percentage the progress bar of a form description shows, -1 without one.
int ProgressOf(const std::string& form) {
    std::smatch m;
    return std::regex_search(
               form, m, std::regex(R"(msctls_progress32\|visible\|16,61,393,29\|\|pos=(\d+)/100)"))
               ? std::stoi(m[1])
               : -1;
}

TEST_F(WindowsAgent, FecharDuringASlowTransferKeepsItsPartForTheNextRun) {
    WindowsAgentFolder agent;
    const std::string part = agent / "grande.bin.part";
    const std::size_t mark = web_->AccessLog().size();
    testsupport::Process first(agent.Options(*wine_, 3, db_->port()));
    ASSERT_TRUE(WaitForSize(part, 64 * 1024));
    const std::string owner = TrayIconOwner();
    // "Abrir": the progress window, its bar advancing and the time left below it.
    EXPECT_EQ(wine_->User({"tray", "517"}).exitStatus, 0);
    EXPECT_EQ(wine_->User({"menu", "1", "10000"}).exitStatus, 0);
    const std::string form = ShowWith("TfTravikVersoes", "Tempo Restante");
    EXPECT_NE(form.find("Static|visible|4,4,423,24|Travik download de Versões\n"),
              std::string::npos)
        << form;
    EXPECT_TRUE(std::regex_search(
        form, std::regex(R"(Static\|visible\|16,92,\d+,\d+\|Tempo Restante: 00:00:\d\d\n)")))
        << form;
    const int before = ProgressOf(form);
    EXPECT_GT(before, 0) << form;
    std::this_thread::sleep_for(1s);
    Snapshot("progress", "460x130+0+0");
    const std::string later = Show("TfTravikVersoes");
    EXPECT_GT(ProgressOf(later), before) << later;
    EXPECT_LT(ProgressOf(later), 100) << later;
    // "Fechar" in the middle: the agent ends, the working file stays.
    EXPECT_EQ(wine_->User({"tray", "517"}).exitStatus, 0);
    EXPECT_EQ(wine_->User({"wait", "#32768", "", "10000"}).exitStatus, 0);
    Snapshot("tray-menu", "400x160+880+640");
    EXPECT_EQ(wine_->User({"menu", "2", "10000"}).exitStatus, 0);
    EXPECT_EQ(first.Wait(60s).exitStatus, 0);
    EXPECT_FALSE(TrayIconLeft(owner));
    const auto kept = std::filesystem::file_size(part);
    ASSERT_LT(kept, kSlowSize);
    EXPECT_FALSE(testsupport::PathExists(agent / "grande.bin"));

    // The next run resumes with a range request; a right click closes its alert, and
    // the process ends with it.
    testsupport::Process second(agent.Options(*wine_, 3, db_->port()));
    EXPECT_EQ(wine_->User({"wait", "TravikVersoesAlert", "", "60000"}).exitStatus, 0);
    Snapshot("alert", "600x200+680+600");
    EXPECT_EQ(wine_->User({"rclick", "TravikVersoesAlert", ""}).exitStatus, 0);
    EXPECT_EQ(wine_->User({"gone", "TravikVersoesAlert", "", "3000"}).exitStatus, 0);
    const auto r = second.Wait(120s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto log = web_->AccessLogSince(mark);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].range.rfind("bytes=", 0), 0u);
    EXPECT_GE(std::stoull(log[1].range.substr(6)), kept);
    EXPECT_EQ(log[1].status, "206");
    EXPECT_EQ(testsupport::ReadFile(agent / "grande.bin"),
              testsupport::ReadFile(*www_ / "lento/grande.bin"));
    EXPECT_FALSE(testsupport::PathExists(part));
}

TEST_F(WindowsAgent, ArgumentTwoReachesTheTableAsGivenAndAddsNoStatement) {
    const std::vector<std::string> texts = {
        "Versão 2.1 ç",
        "Versão 2.1 \U0001F600",
        // Fullwidth quotes and backslash: a best-fit conversion makes '"' and '\\' of them.
        "x＂,＂＂,9,now()),(666,＂pwned＂,＂＂,9,now()); -- ＼",
    };
    WindowsAgentFolder agent;
    int cliente = 900;
    for (const std::string& text : texts) {
        ++cliente;
        const std::size_t mark = db_->LoggedEntries().size();
        testsupport::Process run(agent.Options(
            *wine_, {"2000100000014", text, "50", std::to_string(cliente), "C:\\travik"},
            db_->port()));
        const auto r = run.Wait(120s);
        EXPECT_EQ(r.exitStatus, 0) << text << ": " << r.err;
        const auto entries = db_->LoggedEntries();
        const auto rows =
            agenttest::QueryRows(db_->port(),
                                 "SELECT HEX(versao) FROM atualizacaodb.controle_versao WHERE "
                                 "id_sistema = 50 AND codigo_cliente = " +
                                     std::to_string(cliente));
        ASSERT_EQ(rows.size(), 1u) << text;
        EXPECT_EQ(rows[0][0], agenttest::Hex(text)) << text;
        // One REPLACE holding the text escaped, the two SELECTs and the query
        // component's own look-ups: nothing else.
        int replaces = 0;
        for (std::size_t i = mark; i < entries.size(); ++i) {
            if (entries[i].command != "Query") continue;
            const std::string& q = entries[i].argument;
            if (q.rfind("REPLACE INTO controle_versao ", 0) == 0) {
                ++replaces;
                EXPECT_NE(q.find("(" + std::to_string(cliente) + ", \"" + text + "\",\""),
                          std::string::npos)
                    << q;
            } else {
                EXPECT_TRUE(q.rfind("SELECT *,CONCAT(", 0) == 0 ||
                            q.rfind("SHOW INDEX FROM ", 0) == 0 || q.rfind("DESCRIBE ", 0) == 0)
                    << q;
            }
        }
        EXPECT_EQ(replaces, 1) << text;
    }
    EXPECT_TRUE(agenttest::QueryRows(db_->port(),
                                     "SELECT * FROM atualizacaodb.controle_versao "
                                     "WHERE codigo_cliente = 666")
                    .empty());
}

TEST_F(WindowsAgent, APackageNameAndLinkWithAccentsArriveExactly) {
    WindowsAgentFolder agent;
    const std::size_t mark = web_->AccessLog().size();
    testsupport::Process run(agent.Options(*wine_, 4, db_->port()));
    EXPECT_EQ(wine_->User({"wait", "TravikVersoesAlert", "", "60000"}).exitStatus, 0);
    EXPECT_EQ(wine_->User({"rclick", "TravikVersoesAlert", ""}).exitStatus, 0);
    const auto r = run.Wait(120s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(testsupport::ReadFile(agent / "Versão ç.zip"), "pacote ção");
    // The INI file is in the ANSI code page (1252 in the test prefix).
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              platform::text::Utf8ToLatin1(agenttest::IniText(
                  "2000100000015", WineSession::WindowsPath(agent / "Versão ç.zip"))));
    const auto log = web_->AccessLogSince(mark);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].uri, "/Vers%C3%B5es/pacote%20%C3%A7%C3%A3o.zip");
}

TEST_F(WindowsAgent, LogsInToMySqlServersOfTodayWithTheSystemsRsa) {
    // caching_sha2_password's full authentication and sha256_password without TLS: the
    // password goes encrypted under the server's RSA key, through CryptoAPI. The scripted
    // server decrypts it with the openssl tool.
    testsupport::TestKeys keys;
    for (const std::string method : {"caching_sha2_password", "sha256_password"}) {
        SCOPED_TRACE(method);
        ScriptedMysql db(
            {.version = "8.4.3",
             .auth = ScriptedMysql::Options::Authentication{.password = "58rtm36@",
                                                            .accountMethod = method,
                                                            .rsaPrivateKey = keys / "rsa.pem",
                                                            .rsaPublicKey = keys / "rsa-spki.pem"}},
            testsupport::mysql::NoNewerVersion);
        WindowsAgentFolder agent;
        testsupport::Process run(agent.Options(*wine_, 1, db.port()));
        const auto r = run.Wait(120s);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        const auto logins = db.AuthSteps();
        ASSERT_EQ(logins.size(), 1u);
        EXPECT_EQ(logins[0].back(), "ok");
        EXPECT_NE(std::find(logins[0].begin(), logins[0].end(), "rsa"), logins[0].end());
        const auto statements = db.Statements();
        ASSERT_EQ(statements.size(), 5u);
        EXPECT_EQ(statements[0].rfind("REPLACE INTO controle_versao (", 0), 0u);
    }
}

// After the package, the outcome report finds the server busy and waits; "Fechar" then
// ends the agent without the alert, the package kept and recorded.
TEST_F(WindowsAgent, FecharWhileTheOutcomeReportWaitsShowsNoAlert) {
    const std::string link = web_->url("/pacote.zip");
    const std::string md5 = agenttest::Md5Sum(*www_ / "pacote.zip");
    ScriptedMysql db(
        {.refuse =
             [](int index) { return index > 0 ? testsupport::mysql::TooManyConnections() : ""; }},
        [&](const std::string& statement) {
            return testsupport::mysql::NewerGeneralVersion(statement, link, md5, "pacote.zip");
        });
    WindowsAgentFolder agent;
    auto options = agent.Options(*wine_, 1, db.port());
    options.env["TRAVIK_DB_RETRY_WAIT_MS"] = "60000";
    testsupport::Process run(options);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (db.connections() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(db.connections(), 2);
    std::this_thread::sleep_for(500ms);  // the refusal has arrived: the agent waits
    ChooseFechar();
    EXPECT_NE(wine_->User({"wait", "TravikVersoesAlert", "", "5000"}).exitStatus, 0)
        << "the alert came after Fechar";
    const auto r = run.Wait(30s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"),
              testsupport::ReadFile(*www_ / "pacote.zip"));
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("9000000000000", WineSession::WindowsPath(agent / "pacote.zip")));
}

TEST_F(WindowsAgent, ARefusedDatabasePortEndsInTheErrorBoxUntilTheSessionEnds) {
    WindowsAgentFolder agent;
    testsupport::Process run(agent.Options(*wine_, 1, testsupport::FreePort()));
    const std::string box = ReadAndDismissErrorBox("", /*endSession=*/true);
    EXPECT_NE(box.find("Can't connect to MySQL server on '127.0.0.1' (10061)"), std::string::npos)
        << box;
    EXPECT_EQ(run.Wait(60s).exitStatus, 1);
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

}  // namespace
