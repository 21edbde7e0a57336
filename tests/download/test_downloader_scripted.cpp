// The download component against scripted servers, for what nginx will not do:
// redirect chains and loops, bodies cut short, ignored and misplaced ranges, chunked and
// unframed bodies, error pages, hostile file names, and a server that stops sending.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include "download/Downloader.h"
#include "download/HTTPDownloadWorker.h"
#include "platform/exception.h"
#include "test_downloader_support.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

using namespace download;
using downloadtest::Bytes;
using downloadtest::Recorder;
using testsupport::PathExists;
using testsupport::ReadFile;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::WriteFile;

namespace {

// The request heads a scripted server received, in order.
class RequestLog {
  public:
    std::string Take(ScriptedConnection& c) {
        std::string head = c.RecvUntil("\r\n\r\n");
        std::lock_guard lock(mutex_);
        heads_.push_back(head);
        return head;
    }
    std::vector<std::string> Heads() {
        std::lock_guard lock(mutex_);
        return heads_;
    }
    // The request target of each request ("GET <target> HTTP/1.0").
    std::vector<std::string> Targets() {
        std::vector<std::string> out;
        for (const auto& h : Heads()) {
            const auto a = h.find(' ');
            out.push_back(h.substr(a + 1, h.find(' ', a + 1) - a - 1));
        }
        return out;
    }
    static std::string Range(const std::string& head) {
        const auto at = head.find("\r\nRange: ");
        return at == std::string::npos ? ""
                                       : head.substr(at + 9, head.find("\r\n", at + 2) - at - 9);
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> heads_;
};

// Answers like a correct server: the whole file, or the part after "Range: bytes=N-".
void ServeFile(ScriptedConnection& c, const std::string& head, const std::string& content) {
    const std::string range = RequestLog::Range(head);
    if (range.empty()) {
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" +
               content);
        return;
    }
    const std::size_t from = std::stoul(range.substr(6));
    c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
           std::to_string(content.size() - 1) + "/" + std::to_string(content.size()) +
           "\r\nContent-Length: " + std::to_string(content.size() - from) + "\r\n\r\n" +
           content.substr(from));
}

class DownloaderScripted : public ::testing::Test {
  protected:
    void Fetch(const std::string& url, const std::string& name) {
        d.SetDownloadDest(dest.path());
        d.SetDownloadUrl(url);
        d.SetDownloadNomeArq(name);
        d.StartDownload();
    }

    testsupport::TempDir dest{"travik-dl-dest"};
    TDownloader d;
    Recorder rec{d};
    RequestLog log;
    const std::string content = Bytes(100000);
};

TEST_F(DownloaderScripted, RedirectChainWithRelativeLocationsEndsInTheNamedFile) {
    std::string finalUrl;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        const std::string head = log.Take(c);
        const std::string target = head.substr(4, head.find(' ', 4) - 4);
        if (target == "/a")
            c.Send("HTTP/1.0 301 Moved\r\nLocation: /dir/b\r\n\r\n");
        else if (target == "/dir/b")
            c.Send("HTTP/1.0 302 Found\r\nLocation: c?x=1\r\nContent-Length: 3\r\n\r\nabc");
        else if (target == "/dir/c?x=1")
            c.Send("HTTP/1.0 303 See Other\r\nlocation:  ../e/./d \r\n\r\n");
        else if (target == "/e/d")
            c.Send("HTTP/1.0 307 Temporary\r\nLocation: " + finalUrl + "\r\n\r\n");
        else if (target == "/final.bin")
            ServeFile(c, head, content);
        else
            c.Send("HTTP/1.0 404 Not Found\r\n\r\n");
    });
    finalUrl = server.url("/final.bin");
    Fetch(server.url("/a"), "pkg.bin");

    EXPECT_EQ(log.Targets(),
              (std::vector<std::string>{"/a", "/dir/b", "/dir/c?x=1", "/e/d", "/final.bin"}));
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    EXPECT_EQ(std::filesystem::directory_iterator(dest.path())->path().filename(), "pkg.bin");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dest.path()), {}), 1);
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
}

TEST_F(DownloaderScripted, RedirectKeepsTheNameTakenFromTheRequestedUrl) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        const std::string head = log.Take(c);
        if (head.starts_with("GET /pub/setup.exe "))
            c.Send("HTTP/1.0 302 Found\r\nLocation: /store?id=7\r\n\r\n");
        else
            ServeFile(c, head, content);
    });
    Fetch(server.url("/pub/setup.exe"), "");
    EXPECT_EQ(log.Targets(), (std::vector<std::string>{"/pub/setup.exe", "/store?id=7"}));
    EXPECT_EQ(ReadFile(dest / "setup.exe"), content);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dest.path()), {}), 1);
}

TEST_F(DownloaderScripted, RedirectLoopEndsAfterTenRedirectsWithoutATarget) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n");
    });
    Fetch(server.url("/loop"), "loop.bin");
    EXPECT_EQ(log.Heads().size(), 1u + THTTPDownloadWorker::kMaxRedirects);
    EXPECT_FALSE(PathExists(dest / "loop.bin"));
    EXPECT_EQ(ReadFile(dest / "loop.bin.part"), "");
    // The last answer ends the transfer like any other failure.
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
}

TEST_F(DownloaderScripted, RedirectToAnotherSchemeIsNotFollowed) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 302 Found\r\nLocation: file:///etc/passwd\r\n\r\n");
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(log.Heads().size(), 1u);
    EXPECT_FALSE(PathExists(dest / "pkg.bin"));
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), "");
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
}

TEST_F(DownloaderScripted, BodyCutShortStaysAWorkingFileAndIsResumedLater) {
    ScriptedServer cut([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + content.substr(0, 70000));
    });
    Fetch(cut.url("/pkg.bin"), "pkg.bin");
    EXPECT_FALSE(PathExists(dest / "pkg.bin"));
    // Whole receive units reach the file; the interrupted one does not.
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), content.substr(0, 65536));

    ScriptedServer good([&](ScriptedConnection& c, int) { ServeFile(c, log.Take(c), content); });
    Fetch(good.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    EXPECT_EQ(RequestLog::Range(log.Heads().back()), "bytes=65536-");
}

TEST_F(DownloaderScripted, ChunkedBodyWithExtensionsAndSplitLineEnds) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        c.Send("1a;name=value\r\n" + content.substr(0, 26) + "\r\n");
        c.Send("6 ; x\n" + content.substr(26, 6) + "\n");
        // A CR at the end of one packet and its LF at the start of the next.
        c.Send("3e8\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        c.Send("\n" + content.substr(32, 1000) + "\r\n");
        c.Send("0\r\n\r\n");
    });
    Fetch(server.url("/c.bin"), "c.bin");
    EXPECT_EQ(ReadFile(dest / "c.bin"), content.substr(0, 1032));
    EXPECT_FALSE(PathExists(dest / "c.bin.part"));
}

TEST_F(DownloaderScripted, ChunkedBodyWithoutItsLastChunkIsNotCompleted) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        for (int i = 0; i < 5; ++i) c.Send("3e8\r\n" + content.substr(i * 1000, 1000) + "\r\n");
    });
    Fetch(server.url("/c.bin"), "c.bin");
    EXPECT_FALSE(PathExists(dest / "c.bin"));
    EXPECT_EQ(ReadFile(dest / "c.bin.part"), content.substr(0, 5000));
}

TEST_F(DownloaderScripted, IgnoredRangeStartsTheWorkingFileOver) {
    WriteFile(dest / "pkg.bin.part", Bytes(1000, 5));
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + content);
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(RequestLog::Range(log.Heads().at(0)), "bytes=1000-");
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    ASSERT_NE(rec.First(hrReadCount), nullptr);
    EXPECT_EQ(rec.First(hrReadCount)->downloaded, 0);
    EXPECT_EQ(rec.First(hrReadCount)->toDownload, 100000);
}

TEST_F(DownloaderScripted, RangeFromAnotherOffsetOrWithAnImpossibleEndIsNotUsed) {
    // A working file of 1000 bytes answered from offset 0; a fresh transfer answered with
    // an end that no file can have.
    for (const auto& [kept, range] : std::vector<std::pair<std::size_t, std::string>>{
             {1000, "0-99999/100000"}, {0, "0-9223372036854775807/5"}}) {
        SCOPED_TRACE(range);
        if (kept > 0) WriteFile(dest / "pkg.bin.part", content.substr(0, kept));
        ScriptedServer server([&](ScriptedConnection& c, int) {
            log.Take(c);
            c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + range +
                   "\r\nContent-Length: 100000\r\n\r\n" + content);
        });
        Fetch(server.url("/pkg.bin"), "pkg.bin");
        EXPECT_FALSE(PathExists(dest / "pkg.bin"));
        EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), "");
        std::filesystem::remove(dest / "pkg.bin.part");
    }
}

TEST_F(DownloaderScripted, PartialRangeIsKeptButDoesNotCompleteTheFile) {
    WriteFile(dest / "pkg.bin.part", content.substr(0, 1000));
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send(
            "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes "
            "1000-1999/100000\r\nContent-Length: 1000\r\n\r\n" +
            content.substr(1000, 1000));
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_FALSE(PathExists(dest / "pkg.bin"));
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), content.substr(0, 2000));
}

TEST_F(DownloaderScripted, ResumedAnswerWithoutLengthCompletesAtItsEnd) {
    WriteFile(dest / "pkg.bin.part", content.substr(0, 30000));
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 30000-99999/100000\r\n\r\n" +
               content.substr(30000));
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    EXPECT_EQ(rec.Count(hrReadCount), 0);
}

TEST_F(DownloaderScripted, AnswerWithoutLengthCompletesWhenTheServerCloses) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 200 OK\r\n\r\n");
        for (int i = 0; i < 10; ++i) c.Send(content.substr(i * 10000, 10000));
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    EXPECT_EQ(rec.Count(hrReadCount), 0);
    EXPECT_EQ(d.Down().DownloadStatus(), stNone);
}

TEST_F(DownloaderScripted, ErrorPagesNeverReachTheWorkingFile) {
    for (const std::string status : {"500 Internal Server Error", "403 Forbidden"}) {
        SCOPED_TRACE(status);
        rec.Reset();
        ScriptedServer server([&](ScriptedConnection& c, int) {
            log.Take(c);
            c.Send("HTTP/1.0 " + status + "\r\nContent-Length: 100000\r\n\r\n" + content);
        });
        Fetch(server.url("/pkg.bin"), "pkg.bin");
        EXPECT_FALSE(PathExists(dest / "pkg.bin"));
        EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), "");
        // The close of a 500 answer is not passed on; any other is, once.
        EXPECT_EQ(rec.Count(hrSocketClose), status.starts_with("500") ? 0 : 1);
    }
}

TEST_F(DownloaderScripted, AnswerThatIsNotHttpIsNotAFile) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("SSH-2.0-something\r\n" + content);
    });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_FALSE(PathExists(dest / "pkg.bin"));
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), "");
}

TEST_F(DownloaderScripted, NameFromTheServerWhenTheUrlEndsInASlash) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        const std::string head = log.Take(c);
        c.Send(
            "HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=\"app.zip\"; "
            "size=100000\r\n"
            "Content-Length: 100000\r\n\r\n" +
            content);
    });
    Fetch(server.url("/latest/"), "");
    const auto heads = log.Heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(RequestLog::Range(heads[0]), "bytes=0-1024");
    EXPECT_EQ(RequestLog::Range(heads[1]), "");
    EXPECT_EQ(ReadFile(dest / "app.zip"), content);
    EXPECT_FALSE(PathExists(dest / "app.zip.part"));
}

TEST_F(DownloaderScripted, NameFromTheServerMustStayInTheFolder) {
    for (const std::string value :
         {"\"../evil.zip\"", "/etc/evil.zip", "\"a\\\\b.zip\"", "\"a\tb.zip\"", "\"\""}) {
        SCOPED_TRACE(value);
        ScriptedServer server([&](ScriptedConnection& c, int) {
            log.Take(c);
            c.Send("HTTP/1.0 200 OK\r\nContent-Disposition: attachment; filename=" + value +
                   "\r\n\r\n" + content);
        });
        try {
            Fetch(server.url("/latest/"), "");
            ADD_FAILURE() << "no exception";
        } catch (const platform::Exception& e) {
            EXPECT_STREQ(e.what(), "Favor informar o nome do arquivo para download!");
        }
        EXPECT_EQ(server.connections(), 1);
        EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
        EXPECT_FALSE(PathExists(std::filesystem::path(dest.path()).parent_path() / "evil.zip"));
    }
}

TEST_F(DownloaderScripted, TargetThatCannotBeReplacedRaisesAndKeepsTheWorkingFile) {
    std::filesystem::create_directory(dest / "pkg.bin");
    ScriptedServer server([&](ScriptedConnection& c, int) { ServeFile(c, log.Take(c), content); });
    try {
        Fetch(server.url("/pkg.bin"), "pkg.bin");
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Não foi possível renomear o arquivo: " +
                                             dest / "pkg.bin.part" + " para " + dest / "pkg.bin");
    }
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), content);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "after"), 0);
    EXPECT_EQ(rec.Count(hrSocketClose), 0);
}

TEST_F(DownloaderScripted, ServerThatStopsSendingEndsTheTransferAfterTheTimeout) {
    ScriptedServer server([&](ScriptedConnection& c, int) {
        log.Take(c);
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + content.substr(0, 70000));
        c.RecvAll(std::chrono::seconds(5));  // silent until the client gives up
    });
    rec.onBefore = [](TDownloadWorker& w) {
        dynamic_cast<THTTPDownloadWorker&>(w).HTTPClient().SetTimeout(300);
    };
    const auto start = std::chrono::steady_clock::now();
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(PathExists(dest / "pkg.bin"));
    EXPECT_EQ(ReadFile(dest / "pkg.bin.part"), content.substr(0, 65536));
}

TEST_F(DownloaderScripted, ProxySettingsApplyToANamedTransfer) {
    ScriptedServer proxy([&](ScriptedConnection& c, int) { ServeFile(c, log.Take(c), content); });
    d.SetProxy({.ProxyHost = "127.0.0.1",
                .ProxyPort = std::to_string(proxy.port()),
                .ProxyUser = "u",
                .ProxyPass = "p"});
    Fetch("http://packages.invalid/pub/pkg.bin", "pkg.bin");
    ASSERT_EQ(log.Heads().size(), 1u);
    EXPECT_TRUE(
        log.Heads()[0].starts_with("GET http://packages.invalid:80/pub/pkg.bin HTTP/1.0\r\n"))
        << log.Heads()[0];
    EXPECT_NE(log.Heads()[0].find("\r\nProxy-Authorization: Basic dTpw\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
}

TEST_F(DownloaderScripted, ReceiveBufferSizeReachesTheConnection) {
    ScriptedServer server([&](ScriptedConnection& c, int) { ServeFile(c, log.Take(c), content); });
    std::int32_t size = 0;
    d.SetSizeRecvBuffer(8192);
    d.SetOnHookStatus(
        [&](TBlockingSocket& sock, TSocketHookReason reason, std::int32_t, std::int32_t) {
            if (reason == hrConnect) size = sock.SizeRecvBuffer();
        });
    Fetch(server.url("/pkg.bin"), "pkg.bin");
    EXPECT_EQ(ReadFile(dest / "pkg.bin"), content);
    // The system may round the size up (Linux doubles it), but not to its default.
    EXPECT_GE(size, 8192);
    EXPECT_LE(size, 4 * 8192);
}

TEST(DownloadWorker, BelongsToADownloader) {
    try {
        THTTPDownloadWorker worker(nullptr);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_STREQ(e.what(), "Essa Classe deve ser instanciada por TDownloader");
    }
}

TEST(DownloadNames, RedirectLocationsResolveAgainstTheRequestedUrl) {
    const std::string base = "http://h:8080/pub/app/setup.exe?v=1";
    EXPECT_EQ(ResolveRedirectUrl(base, "http://other/x.zip"), "http://other/x.zip");
    EXPECT_EQ(ResolveRedirectUrl(base, "//cdn/x.zip"), "http://cdn/x.zip");
    EXPECT_EQ(ResolveRedirectUrl(base, "/x.zip"), "http://h:8080/x.zip");
    EXPECT_EQ(ResolveRedirectUrl(base, "x.zip?a=b"), "http://h:8080/pub/app/x.zip?a=b");
    EXPECT_EQ(ResolveRedirectUrl(base, "../../../x.zip"), "http://h:8080/x.zip");
    EXPECT_EQ(ResolveRedirectUrl(base, "./v2/"), "http://h:8080/pub/app/v2/");
    EXPECT_EQ(ResolveRedirectUrl(base, "?v=2"), "http://h:8080/pub/app/setup.exe?v=2");
    EXPECT_EQ(ResolveRedirectUrl("http://[::1]/a/b", "c#frag"), "http://[::1]:80/a/c");
}

TEST(DownloadNames, OnlyPlainNamesAreFileNames) {
    EXPECT_TRUE(IsPlainFileName("setup.exe"));
    EXPECT_TRUE(IsPlainFileName("Pacote 2.0 (final).zip"));
    // Dots inside a name are part of it.
    EXPECT_TRUE(IsPlainFileName("app..zip"));
    EXPECT_TRUE(IsPlainFileName("..x"));
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", "a\\b", "c:x",
                                                           "a\nb", std::string("a\0b", 3)})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST(DownloadNames, EventCountsSaturateAndTheEstimateTruncates) {
    EXPECT_EQ(SaturateToInt32(std::int64_t{3} << 30), INT32_MAX);
    EXPECT_EQ(SaturateToInt32(-(std::int64_t{3} << 30)), INT32_MIN);
    EXPECT_EQ(SaturateToInt32(123), 123);
    EXPECT_EQ(EstimateSeconds(2048000, 0, 100.0), 20);
    EXPECT_EQ(EstimateSeconds(2048000 + 1023, 0, 100.0), 20);
    // Held in 16 bits: beyond 18:12:15 the longest time, below zero none.
    EXPECT_EQ(EstimateSeconds(std::int64_t{5} << 40, 0, 1.0), 65535);
    EXPECT_EQ(EstimateSeconds(100, 200000, 1.0), 0);
    EXPECT_EQ(EstimateSeconds(INT64_MAX, 0, 1e-300), 65535);
}

TEST(DownloadNames, ElapsedTimeCountsWholeDaysAndHoldsTheEventsSixteenBits) {
    using std::chrono::milliseconds;
    // A transfer of 25 h 1 min 1.5 s: hours past a day stay, seconds stop at 65535.
    const TElapsed day = ElapsedOf(milliseconds(90061500));
    EXPECT_EQ(day.Hour, 25);
    EXPECT_EQ(day.Min, 1);
    EXPECT_EQ(day.Sec, 65535);
    EXPECT_DOUBLE_EQ(day.Seconds, 90061.5);
    const TElapsed short_ = ElapsedOf(milliseconds(3723250));
    EXPECT_EQ(short_.Hour, 1);
    EXPECT_EQ(short_.Min, 2);
    EXPECT_EQ(short_.Sec, 3723);
    EXPECT_DOUBLE_EQ(short_.Seconds, 3723.25);
    EXPECT_EQ(ElapsedOf(milliseconds(-5)).Seconds, 0);
}

}  // namespace
