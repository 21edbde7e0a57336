// The progress handlers of the main form: what the download component's events do to
// the progress bar pb and the label lblStatus.
#include <gtest/gtest.h>

#include <memory>

#include "agent/uTravikVersoes.h"
#include "download/BlockingSocket.h"

namespace {

using namespace download;

class ProgressDisplay : public ::testing::Test {
  protected:
    ProgressDisplay() {
        app.SetCommandLine({"TravikVersoes"});
        form = std::make_unique<agent::TfTravikVersoes>(app);
    }
    void Status(TSocketHookReason reason, std::int32_t toDownload = 0,
                std::int32_t downloaded = 0) {
        form->Downloader1HookStatus(socket, reason, toDownload, downloaded);
    }
    void Monitor(std::int32_t downloaded, std::uint16_t sec) {
        form->Downloader1HookMonitor(socket, 0, downloaded, 12.5, 0, 0, sec);
    }

    platform::Application app;
    std::unique_ptr<agent::TfTravikVersoes> form;
    TTCPBlockingSocket socket;
};

TEST_F(ProgressDisplay, ReadCountSetsTheBarAndMonitorMovesItWithTheRemainingTime) {
    Status(hrReadCount, 4000, 1000);
    EXPECT_EQ(form->pb.TotalParts(), 4000);
    EXPECT_EQ(form->pb.PartsComplete(), 1000);
    EXPECT_EQ(form->pb.Percent(), 25);
    Monitor(2000, 3725);
    EXPECT_EQ(form->pb.Percent(), 50);
    EXPECT_EQ(form->lblStatus.Caption(), "Tempo Restante: 01:02:05");
    Monitor(9000, 0);  // more than announced: full
    EXPECT_EQ(form->pb.Percent(), 100);
    EXPECT_EQ(form->lblStatus.Caption(), "Tempo Restante: 00:00:00");
}

TEST_F(ProgressDisplay, MonitorBeforeTheFirstReadCountLeavesTheBarEmpty) {
    Monitor(5000, 65535);
    EXPECT_EQ(form->pb.PartsComplete(), 0);
    EXPECT_EQ(form->pb.Percent(), 0);
    EXPECT_EQ(form->lblStatus.Caption(), "Tempo Restante: 18:12:15");
}

TEST_F(ProgressDisplay, ConnectEmptiesTheBarAndKeepsTheLabel) {
    Status(hrReadCount, 100, 50);
    Monitor(60, 7);
    Status(hrConnect);
    EXPECT_EQ(form->pb.TotalParts(), 0);
    EXPECT_EQ(form->pb.Percent(), 0);
    EXPECT_EQ(form->lblStatus.Caption(), "Tempo Restante: 00:00:07");
}

TEST_F(ProgressDisplay, SocketCloseShowsStopAndPauseOnly) {
    Status(hrReadCount, 100, 40);
    Monitor(40, 3);
    form->Downloader1.SetDownloadStatus(stDownload);
    Status(hrSocketClose);  // an ordinary end: the last state stays
    EXPECT_EQ(form->pb.Percent(), 40);
    EXPECT_EQ(form->lblStatus.Caption(), "Tempo Restante: 00:00:03");

    form->Downloader1.SetDownloadStatus(stPause);
    Status(hrSocketClose);
    EXPECT_EQ(form->lblStatus.Caption(), "Download Pausado...");
    EXPECT_EQ(form->pb.Percent(), 40);

    form->Downloader1.SetDownloadStatus(stStop);
    Status(hrSocketClose);
    EXPECT_EQ(form->lblStatus.Caption(), "Download Encerrado...");
    EXPECT_EQ(form->pb.TotalParts(), 0);
    EXPECT_EQ(form->pb.Percent(), 0);
}

TEST_F(ProgressDisplay, OtherReasonsChangeNothing) {
    Status(hrReadCount, 100, 30);
    for (const auto reason : {hrResolvingBegin, hrResolvingEnd, hrSocketCreate, hrBind, hrCanRead,
                              hrCanWrite, hrListen, hrAccept, hrWriteCount, hrWait, hrError}) {
        Status(reason, 999, 999);
    }
    EXPECT_EQ(form->pb.TotalParts(), 100);
    EXPECT_EQ(form->pb.PartsComplete(), 30);
    EXPECT_EQ(form->lblStatus.Caption(), "");
}

}  // namespace
