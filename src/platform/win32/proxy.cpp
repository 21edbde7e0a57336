// The current user's proxy settings through WinHTTP (winhttp.dll, loaded by name): the
// static proxy and bypass list of the Internet Options, and what an auto-config script
// (PAC) or auto-detection (WPAD) chooses for a URL.
//
// Auto-configuration can wait a long time on the network (a DHCP or DNS search for WPAD,
// a script server that does not answer), so it gets a few seconds in all per run: each
// call runs on a helper thread that the caller stops waiting for at the end of that time.
// A call that overruns it is left to finish on its own (it holds the library and its own
// handles) and no further auto-configuration is tried. Auto-detection runs at most once.
#include "platform/proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dynlib.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The whole time automatic configuration may take in one run.
constexpr auto kAutoConfigBudget = std::chrono::seconds(5);
// WinHTTP's own waits while it fetches a script.
constexpr int kScriptTimeoutMs = 3000;

struct WinHttp {
    DynamicLibrary library;
    BOOL(WINAPI* getIEProxyConfig)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*) = nullptr;
    BOOL(WINAPI* detectAutoProxyConfigUrl)(DWORD, LPWSTR*) = nullptr;
    HINTERNET(WINAPI* open)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) = nullptr;
    BOOL(WINAPI* setTimeouts)(HINTERNET, int, int, int, int) = nullptr;
    BOOL(WINAPI* getProxyForUrl)
    (HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*) = nullptr;
    BOOL(WINAPI* closeHandle)(HINTERNET) = nullptr;
};

// Loaded once; shared with the helper threads, so the library stays while one runs.
std::shared_ptr<const WinHttp> Api() {
    static const std::shared_ptr<const WinHttp> api = []() -> std::shared_ptr<const WinHttp> {
        auto w = std::make_shared<WinHttp>();
        if (!w->library.Load("winhttp.dll")) return nullptr;
        const auto& l = w->library;
        if (!l.Find(w->getIEProxyConfig, "WinHttpGetIEProxyConfigForCurrentUser") ||
            !l.Find(w->detectAutoProxyConfigUrl, "WinHttpDetectAutoProxyConfigUrl") ||
            !l.Find(w->open, "WinHttpOpen") || !l.Find(w->setTimeouts, "WinHttpSetTimeouts") ||
            !l.Find(w->getProxyForUrl, "WinHttpGetProxyForUrl") ||
            !l.Find(w->closeHandle, "WinHttpCloseHandle"))
            return nullptr;
        return w;
    }();
    return api;
}

// Takes a string WinHTTP allocated for the caller.
std::wstring TakeGlobal(LPWSTR text) {
    if (text == nullptr) return {};
    std::wstring value(text);
    ::GlobalFree(text);
    return value;
}

// The run's time for automatic configuration: it starts with the first call.
class AutoConfigBudget {
  public:
    // Runs `work` on a helper thread and waits for it within what is left of the time;
    // nothing when the time is (or runs) out.
    std::optional<std::optional<std::wstring>> Run(
        std::function<std::optional<std::wstring>()> work) {
        if (!deadline_) deadline_ = Clock::now() + kAutoConfigBudget;
        if (spent_ || Clock::now() >= *deadline_) return std::nullopt;
        struct Shared {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            std::optional<std::wstring> result;
        };
        auto shared = std::make_shared<Shared>();
        try {
            std::thread([shared, work = std::move(work)] {
                std::optional<std::wstring> result;
                try {
                    result = work();
                } catch (...) {
                    result.reset();
                }
                const std::lock_guard lock(shared->mutex);
                shared->result = std::move(result);
                shared->finished = true;
                shared->done.notify_all();
            }).detach();
        } catch (...) {
            return std::nullopt;  // no thread: no automatic configuration
        }
        std::unique_lock lock(shared->mutex);
        if (!shared->done.wait_until(lock, *deadline_, [&] { return shared->finished; })) {
            spent_ = true;
            return std::nullopt;
        }
        return shared->result;
    }

  private:
    std::optional<Clock::time_point> deadline_;
    bool spent_ = false;
};

AutoConfigBudget& Budget() {
    static AutoConfigBudget budget;
    return budget;
}

// The script URL that auto-detection found, searched for once per run.
std::optional<std::wstring> DetectedScriptUrl(const std::shared_ptr<const WinHttp>& api) {
    static std::optional<std::optional<std::wstring>> detected;
    if (!detected) {
        const auto found = Budget().Run([api]() -> std::optional<std::wstring> {
            LPWSTR url = nullptr;
            if (!api->detectAutoProxyConfigUrl(
                    WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &url))
                return std::nullopt;
            return TakeGlobal(url);
        });
        detected = found.value_or(std::nullopt);
    }
    return *detected;
}

// What the script at `scriptUrl` chooses for `url`: a proxy list, empty for direct.
std::optional<std::wstring> RunScript(const std::shared_ptr<const WinHttp>& api,
                                      const std::wstring& scriptUrl, const std::wstring& url) {
    const auto chosen = Budget().Run([api, scriptUrl, url]() -> std::optional<std::wstring> {
        const HINTERNET session =
            api->open(L"TravikVersoes", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
        if (session == nullptr) return std::nullopt;
        api->setTimeouts(session, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs,
                         kScriptTimeoutMs);
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        const BOOL ok = api->getProxyForUrl(session, url.c_str(), &options, &info);
        api->closeHandle(session);
        std::wstring proxy = TakeGlobal(info.lpszProxy);
        TakeGlobal(info.lpszProxyBypass);
        if (!ok) return std::nullopt;
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY) proxy.clear();
        return proxy;
    });
    return chosen.value_or(std::nullopt);
}

}  // namespace

std::optional<SystemProxy> SystemProxyFor(const std::string& url) {
    const auto api = Api();
    if (!api) return std::nullopt;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!api->getIEProxyConfig(&config)) return std::nullopt;
    const std::wstring scriptUrl = TakeGlobal(config.lpszAutoConfigUrl);
    SystemProxy result;
    result.Proxy = win32::Narrow(TakeGlobal(config.lpszProxy));
    result.Bypass = win32::Narrow(TakeGlobal(config.lpszProxyBypass));

    // Auto-detection first, then the configured script, as the Internet Options do.
    std::optional<std::wstring> script;
    if (config.fAutoDetect) script = DetectedScriptUrl(api);
    if (!script && !scriptUrl.empty()) script = scriptUrl;
    if (script) {
        if (const auto chosen = RunScript(api, *script, win32::Widen(url)))
            result.Auto = win32::Narrow(*chosen);
    }
    return result;
}

}  // namespace platform
