// Shared by the download component's tests: file contents, and a recorder of the
// component's events.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "platform/fs.h"

namespace downloadtest {

// Reproducible bytes that differ at every offset a mistake could shift them to.
inline std::string Bytes(std::size_t size, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

struct StatusCall {
    download::TSocketHookReason reason;
    std::int32_t toDownload;
    std::int32_t downloaded;
    download::TDownloadStatus componentStatus;  // the component's DownloadStatus at the call
};

// Wires every event of a component and records what it sees; `onMonitor` runs inside
// the monitor event (where an application would stop or pause).
struct Recorder {
    explicit Recorder(download::TDownloader& d) : downloader(d) {
        d.SetProtocolo(download::protHTTP);
        d.SetOnBeforeDownload([this](download::TDownloadWorker& w) {
            events.push_back("before");
            if (onBefore) onBefore(w);
        });
        d.SetOnAfterDownload([this](download::TDownloadWorker&) { events.push_back("after"); });
        d.SetOnHookStatus([this](download::TBlockingSocket&, download::TSocketHookReason r,
                                 std::int32_t to, std::int32_t done) {
            status.push_back({r, to, done, downloader.DownloadStatus()});
            events.push_back(r == download::hrSocketClose ? "close"
                             : r == download::hrConnect   ? "connect"
                             : r == download::hrReadCount ? "readcount"
                                                          : "other");
        });
        d.SetOnHookMonitor([this](download::TBlockingSocket&, std::int32_t to, std::int32_t done,
                                  double speed, std::uint16_t, std::uint16_t, std::uint16_t) {
            ++monitorCalls;
            lastTo = to;
            lastDone = done;
            lastSpeed = speed;
            if (onMonitor) onMonitor(to, done);
        });
        d.SetProcessMessages([this] { ++pumped; });
    }

    int Count(download::TSocketHookReason reason) const {
        int n = 0;
        for (const auto& s : status) n += s.reason == reason;
        return n;
    }
    const StatusCall* First(download::TSocketHookReason reason) const {
        for (const auto& s : status)
            if (s.reason == reason) return &s;
        return nullptr;
    }
    void Reset() {
        status.clear();
        events.clear();
        monitorCalls = pumped = 0;
    }

    download::TDownloader& downloader;
    std::vector<StatusCall> status;
    std::vector<std::string> events;
    int monitorCalls = 0;
    int pumped = 0;
    std::int32_t lastTo = 0, lastDone = 0;
    double lastSpeed = 0;
    std::function<void(std::int32_t to, std::int32_t done)> onMonitor;
    std::function<void(download::TDownloadWorker&)> onBefore;
};

}  // namespace downloadtest
