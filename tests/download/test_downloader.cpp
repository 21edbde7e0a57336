// The download component against a real nginx: plain transfers, resume, ranges the
// working file already covers, errors, names from the URL, pause and stop from the
// monitor event, a large file, and offsets beyond 32 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

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
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSmall = 300000;
constexpr std::size_t kMedium = 8 << 20;
constexpr std::size_t kLarge = 64 << 20;
constexpr std::int64_t kHuge = std::int64_t{3} << 30;  // 3 GiB, mostly a hole
const std::string kHugeTail = Bytes(kSmall, 9);

class DownloaderNginx : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<testsupport::TempDir>("travik-dl-root");
        for (const char* name : {"pkg.bin", "resume.bin", "empty-part.bin", "whole.bin",
                                 "foreign.bin", "named.bin", "redirected.bin"})
            WriteFile(*root_ / name, Bytes(kSmall));
        WriteFile(*root_ / "medium.bin", Bytes(kMedium, 2));
        WriteFile(*root_ / "large.bin", Bytes(kLarge, 3));
        // A file over 2 GiB: a hole followed by a written tail.
        {
            std::ofstream huge(*root_ / "huge.bin", std::ios::binary);
            huge.seekp(kHuge);
            huge.write(kHugeTail.data(), static_cast<std::streamsize>(kHugeTail.size()));
        }
        nginx_ = std::make_unique<testsupport::NginxServer>(root_->path());
    }
    static void TearDownTestSuite() {
        nginx_.reset();
        root_.reset();
    }

    // Requests nginx logged for one file.
    static std::vector<testsupport::NginxServer::LogEntry> Requests(const std::string& uri) {
        std::vector<testsupport::NginxServer::LogEntry> out;
        for (auto& e : nginx_->AccessLog())
            if (e.uri == uri) out.push_back(e);
        return out;
    }

    void Fetch(const std::string& path, const std::string& name) {
        d.SetDownloadDest(dest.path());
        d.SetDownloadUrl(nginx_->url(path));
        d.SetDownloadNomeArq(name);
        d.StartDownload();
    }

    static std::unique_ptr<testsupport::TempDir> root_;
    static std::unique_ptr<testsupport::NginxServer> nginx_;
    testsupport::TempDir dest{"travik-dl-dest"};
    TDownloader d;
    Recorder rec{d};
};

std::unique_ptr<testsupport::TempDir> DownloaderNginx::root_;
std::unique_ptr<testsupport::NginxServer> DownloaderNginx::nginx_;

TEST_F(DownloaderNginx, PlainTransferReplacesTargetAndReportsEachStepOnce) {
    WriteFile(dest / "pkg.bin", "an older package");
    // Blanks around the folder and a separator at its end are both tolerated.
    d.SetDownloadDest("  " + dest.path() + "/  ");
    d.SetDownloadUrl(nginx_->url("/pkg.bin"));
    d.SetDownloadNomeArq("pkg.bin");
    d.StartDownload();

    EXPECT_EQ(ReadFile(dest / "pkg.bin"), Bytes(kSmall));
    EXPECT_FALSE(PathExists(dest / "pkg.bin.part"));
    EXPECT_EQ(rec.events.front(), "before");
    EXPECT_EQ(rec.events.back(), "after");
    EXPECT_EQ(rec.Count(hrConnect), 1);
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
    ASSERT_EQ(rec.Count(hrReadCount), 1);
    EXPECT_EQ(rec.First(hrReadCount)->toDownload, static_cast<std::int32_t>(kSmall));
    EXPECT_EQ(rec.First(hrReadCount)->downloaded, 0);
    EXPECT_GT(rec.monitorCalls, 0);
    EXPECT_EQ(rec.pumped, rec.monitorCalls);
    EXPECT_EQ(d.DownloadStatus(), stDownload);

    const auto log = Requests("/pkg.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].range, "");
    EXPECT_EQ(log[0].status, "200");
}

TEST_F(DownloaderNginx, ExistingWorkingFileIsResumedWithARange) {
    const std::string content = Bytes(kSmall);
    WriteFile(dest / "resume.bin.part", content.substr(0, 100000));
    Fetch("/resume.bin", "resume.bin");

    EXPECT_EQ(ReadFile(dest / "resume.bin"), content);
    EXPECT_FALSE(PathExists(dest / "resume.bin.part"));
    ASSERT_NE(rec.First(hrReadCount), nullptr);
    EXPECT_EQ(rec.First(hrReadCount)->downloaded, 100000);
    EXPECT_EQ(rec.First(hrReadCount)->toDownload, static_cast<std::int32_t>(kSmall));
    const auto log = Requests("/resume.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=100000-");
    EXPECT_EQ(log[0].status, "206");
}

TEST_F(DownloaderNginx, EmptyWorkingFileAsksForTheWholeFile) {
    WriteFile(dest / "empty-part.bin.part", "");
    Fetch("/empty-part.bin", "empty-part.bin");
    EXPECT_EQ(ReadFile(dest / "empty-part.bin"), Bytes(kSmall));
    const auto log = Requests("/empty-part.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "");
}

TEST_F(DownloaderNginx, WorkingFileThatIsAlreadyWholeBecomesTheTarget) {
    // Paused at the very last block: the server has nothing left after the working file.
    WriteFile(dest / "whole.bin.part", Bytes(kSmall));
    Fetch("/whole.bin", "whole.bin");
    EXPECT_EQ(ReadFile(dest / "whole.bin"), Bytes(kSmall));
    EXPECT_FALSE(PathExists(dest / "whole.bin.part"));
    const auto log = Requests("/whole.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, "416");
}

TEST_F(DownloaderNginx, WorkingFileLongerThanTheFileStartsOver) {
    WriteFile(dest / "foreign.bin.part", Bytes(kSmall + 10, 7));
    Fetch("/foreign.bin", "foreign.bin");
    EXPECT_FALSE(PathExists(dest / "foreign.bin"));
    EXPECT_EQ(ReadFile(dest / "foreign.bin.part"), "");

    Fetch("/foreign.bin", "foreign.bin");
    EXPECT_EQ(ReadFile(dest / "foreign.bin"), Bytes(kSmall));
    const auto log = Requests("/foreign.bin");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].status, "416");
    EXPECT_EQ(log[1].range, "");
    EXPECT_EQ(log[1].status, "200");
}

TEST_F(DownloaderNginx, NotFoundLeavesNoTargetAndNoErrorPageInTheWorkingFile) {
    Fetch("/missing.bin", "missing.bin");
    EXPECT_FALSE(PathExists(dest / "missing.bin"));
    EXPECT_EQ(ReadFile(dest / "missing.bin.part"), "");
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
    EXPECT_EQ(d.Down().ResultCode(), 404);

    // A later attempt against the same working file still has nothing to resume after.
    Fetch("/missing.bin", "missing.bin");
    const auto log = Requests("/missing.bin");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].range, "");
}

TEST_F(DownloaderNginx, NameIsTakenFromTheUrlPathWithoutItsQuery) {
    Fetch("/named.bin?x=1", "");
    EXPECT_EQ(ReadFile(dest / "named.bin"), Bytes(kSmall));
    EXPECT_FALSE(PathExists(dest / "named.bin.part"));
}

TEST_F(DownloaderNginx, NameThatWouldLeaveTheFolderCountsAsNoName) {
    d.SetDownloadDest(dest.path());
    d.SetDownloadUrl(nginx_->url("/pub/.."));
    d.SetDownloadNomeArq("");
    try {
        d.StartDownload();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_STREQ(e.what(), "Favor informar o nome do arquivo para download!");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
    EXPECT_TRUE(Requests("/pub/..").empty());
}

TEST_F(DownloaderNginx, NameEndingInPartGetsNoSecondSuffix) {
    Fetch("/pkg.bin", "pkg2.bin.part");
    EXPECT_EQ(ReadFile(dest / "pkg2.bin"), Bytes(kSmall));
    EXPECT_FALSE(PathExists(dest / "pkg2.bin.part"));
}

TEST_F(DownloaderNginx, WithoutProtocolNothingStarts) {
    d.SetProtocolo(protNenhum);
    d.SetDownloadDest(dest.path());
    d.SetDownloadUrl(nginx_->url("/pkg.bin"));
    d.SetDownloadNomeArq("none.bin");
    TDownloadWorker* before = &d.Down();
    try {
        d.StartDownload();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_STREQ(e.what(),
                     "Antes de iniciar o download, defina o protocolo a ser usado HTTP ou FTP!");
    }
    EXPECT_EQ(&d.Down(), before);
    EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
}

TEST_F(DownloaderNginx, PauseFromTheMonitorKeepsTheWorkingFileForTheNextStart) {
    const std::string content = Bytes(kMedium, 2);
    rec.onMonitor = [&](std::int32_t, std::int32_t done) {
        if (done > (1 << 20) && d.DownloadStatus() == stDownload) d.Pause();
    };
    Fetch("/medium.bin", "medium.bin");

    EXPECT_FALSE(PathExists(dest / "medium.bin"));
    const std::string part = ReadFile(dest / "medium.bin.part");
    EXPECT_GT(part.size(), 0u);
    EXPECT_LT(part.size(), content.size());
    EXPECT_EQ(part, content.substr(0, part.size()));
    // The close reaches the application once, and it sees the pause.
    ASSERT_EQ(rec.Count(hrSocketClose), 1);
    EXPECT_EQ(rec.First(hrSocketClose)->componentStatus, stPause);
    EXPECT_EQ(d.DownloadStatus(), stPause);

    rec.onMonitor = nullptr;
    rec.Reset();
    Fetch("/medium.bin", "medium.bin");
    EXPECT_EQ(ReadFile(dest / "medium.bin"), content);
    EXPECT_FALSE(PathExists(dest / "medium.bin.part"));
    EXPECT_EQ(rec.First(hrReadCount)->downloaded, static_cast<std::int32_t>(part.size()));
    const auto log = Requests("/medium.bin");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].range, "");
    EXPECT_EQ(log[1].range, "bytes=" + std::to_string(part.size()) + "-");
}

TEST_F(DownloaderNginx, StopFromTheMonitorDeletesTheWorkingFile) {
    int closes = 0;
    rec.onMonitor = [&](std::int32_t, std::int32_t done) {
        if (done > (1 << 20)) d.Stop();
    };
    d.SetOnDownloadStatus([&](TDownloadWorker&, TDownloadStatus s) { closes += s == stStop; });
    Fetch("/medium.bin", "stopped.bin");
    EXPECT_FALSE(PathExists(dest / "stopped.bin"));
    EXPECT_FALSE(PathExists(dest / "stopped.bin.part"));
    ASSERT_EQ(rec.Count(hrSocketClose), 1);
    EXPECT_EQ(rec.First(hrSocketClose)->componentStatus, stStop);
    EXPECT_GE(closes, 1);
    EXPECT_EQ(rec.events.back(), "after");
}

TEST_F(DownloaderNginx, LargeFileIsWrittenAsItArrives) {
    // The working file trails the received bytes by a few receive units at most: the
    // body does not pile up in memory.
    std::int64_t worstLag = 0;
    const std::string part = dest / "large.bin.part";
    rec.onMonitor = [&](std::int32_t, std::int32_t done) {
        if (rec.Count(hrReadCount) == 0) return;
        worstLag = std::max<std::int64_t>(worstLag, done - platform::fs::FileSize(part));
    };
    Fetch("/large.bin", "large.bin");
    EXPECT_EQ(ReadFile(dest / "large.bin"), Bytes(kLarge, 3));
    EXPECT_GT(rec.monitorCalls, 100);
    EXPECT_LE(worstLag, 4 * 65536);
}

TEST_F(DownloaderNginx, OffsetsBeyondTwoGibibytesResumeAndSaturateTheEvents) {
    {
        std::ofstream part(dest / "huge.bin.part", std::ios::binary);
        part.seekp(kHuge - 1);
        part.put('\0');
    }
    Fetch("/huge.bin", "huge.bin");

    ASSERT_TRUE(PathExists(dest / "huge.bin"));
    EXPECT_EQ(platform::fs::FileSize(dest / "huge.bin"),
              kHuge + static_cast<std::int64_t>(kHugeTail.size()));
    std::ifstream in(dest / "huge.bin", std::ios::binary);
    in.seekg(kHuge);
    std::string tail(kHugeTail.size(), '\0');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    EXPECT_EQ(tail, kHugeTail);
    const auto log = Requests("/huge.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=" + std::to_string(kHuge) + "-");
    EXPECT_EQ(log[0].status, "206");
    // The 32-bit event parameters stop at their largest value.
    ASSERT_EQ(rec.Count(hrReadCount), 1);
    EXPECT_EQ(rec.First(hrReadCount)->downloaded, INT32_MAX);
    EXPECT_EQ(rec.First(hrReadCount)->toDownload, INT32_MAX);
    ASSERT_GT(rec.Count(hrSocketClose), 0);
    EXPECT_EQ(rec.status.back().downloaded, INT32_MAX);
}

TEST_F(DownloaderNginx, RedirectedTransferResumesItsOwnWorkingFile) {
    const std::string target = nginx_->url("/redirected.bin");
    testsupport::ScriptedServer redirector([&](testsupport::ScriptedConnection& c, int) {
        c.RecvUntil("\r\n\r\n");
        c.Send("HTTP/1.0 302 Found\r\nLocation: " + target +
               "\r\nContent-Length: 12\r\n\r\nmoved here\r\n");
    });
    const std::string content = Bytes(kSmall);
    WriteFile(dest / "pkg-r.bin.part", content.substr(0, 5000));
    d.SetDownloadDest(dest.path());
    d.SetDownloadUrl(redirector.url("/latest"));
    d.SetDownloadNomeArq("pkg-r.bin");
    d.StartDownload();

    EXPECT_EQ(ReadFile(dest / "pkg-r.bin"), content);
    EXPECT_FALSE(PathExists(dest / "pkg-r.bin.part"));
    const auto log = Requests("/redirected.bin");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=5000-");
    // One close for the application: the redirect's own is not passed on.
    EXPECT_EQ(rec.Count(hrSocketClose), 1);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "before"), 2);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "after"), 2);
}

}  // namespace
