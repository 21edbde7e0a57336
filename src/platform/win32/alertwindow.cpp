// The alert: a small top-most window in a corner of the work area, sized to its caption
// and text (static controls, so both are window texts) beside the application's icon. It
// fades in, waits its display time (while the mouse is over it the time stops and starts
// again in full when the mouse leaves), then goes with its hiding animation. A right click
// closes it at once. One timer drives it; its ticks come with the program's messages.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/alert.h"
#include "platform/eventloop.h"
#include "platform/win32/gdi.h"
#include "platform/win32/wide.h"
#include "platform/win32/window.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT_PTR kTimer = 1;
constexpr UINT kTickMs = 20;
constexpr int kMargin = 8;
constexpr int kIconSize = 32;
constexpr int kTextWidth = 300;  // the longest line of the text, at 96 dpi

class AlertWindow;
// The open alerts; each leaves the list when its window is destroyed.
std::vector<std::unique_ptr<AlertWindow>> gAlerts;

class AlertWindow {
  public:
    explicit AlertWindow(const AlertWindowSettings& settings) : settings_(settings) {}
    AlertWindow(const AlertWindow&) = delete;
    AlertWindow& operator=(const AlertWindow&) = delete;
    ~AlertWindow() {
        if (window_ != nullptr) {
            win32::SetWindowObject(window_, nullptr);
            ::DestroyWindow(window_);
        }
    }

    void Open() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        dpi_ = win32::DpiOf(nullptr);
        auto scale = [this](int value) { return win32::ScaleToDpi(value, dpi_); };
        captionFont_ = win32::CreateScaledFont(settings_.CaptionFont, dpi_);
        textFont_ = win32::CreateScaledFont(settings_.TextFont, dpi_);
        const std::wstring caption = win32::Widen(settings_.Caption);
        const std::wstring text = win32::Widen(settings_.Text);
        const SIZE captionSize = Measure(caption, captionFont_.get(), 0);
        const SIZE textSize = Measure(text, textFont_.get(), scale(kTextWidth));

        const int textLeft = scale(kMargin + kIconSize + kMargin);
        const int width =
            textLeft + static_cast<int>(std::max(captionSize.cx, textSize.cx)) + scale(kMargin);
        const int height =
            std::max(static_cast<int>(captionSize.cy + scale(4) + textSize.cy), scale(kIconSize)) +
            2 * scale(kMargin);
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const bool left = settings_.Corner == ScreenCorner::TopLeft ||
                          settings_.Corner == ScreenCorner::BottomLeft;
        const bool top =
            settings_.Corner == ScreenCorner::TopLeft || settings_.Corner == ScreenCorner::TopRight;
        home_ = {left ? work.left : work.right - width, top ? work.top : work.bottom - height};
        slideTo_ = left ? work.left - width : work.right;  // off the screen at its side

        window_ =
            ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED,
                              win32::WindowClass(L"TravikVersoesAlert", WindowProc, COLOR_WINDOW),
                              caption.c_str(), WS_POPUP | WS_BORDER, home_.x, home_.y, width,
                              height, nullptr, nullptr, instance, nullptr);
        win32::SetWindowObject(window_, this);
        icon_ = static_cast<HICON>(
            ::LoadImageW(instance, L"MAINICON", IMAGE_ICON, scale(kIconSize), scale(kIconSize), 0));
        AddText(caption, captionFont_.get(), textLeft, scale(kMargin), captionSize);
        AddText(text, textFont_.get(), textLeft, scale(kMargin) + captionSize.cy + scale(4),
                textSize);

        phase_ = settings_.ShowingAnimation == AlertAnimation::None ? Phase::Shown : Phase::Showing;
        phaseStart_ = Clock::now();
        SetAlpha(phase_ == Phase::Shown ? settings_.Opacity : 0);
        ::ShowWindow(window_, SW_SHOWNOACTIVATE);
        ::SetTimer(window_, kTimer, kTickMs, nullptr);
    }

    void Close() { ::DestroyWindow(window_); }

  private:
    enum class Phase { Showing, Shown, Hiding };

    SIZE Measure(const std::wstring& text, HFONT font, int wrapWidth) const {
        HDC dc = ::GetDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, font);
        RECT r{0, 0, wrapWidth, 0};
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                    DT_CALCRECT | DT_NOPREFIX | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE));
        ::SelectObject(dc, old);
        ::ReleaseDC(nullptr, dc);
        return {r.right - r.left, r.bottom - r.top};
    }

    void AddText(const std::wstring& text, HFONT font, int x, int y, SIZE size) {
        HWND label = ::CreateWindowExW(
            0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, x, y,
            size.cx, size.cy, window_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }

    void SetAlpha(int alpha) {
        alpha = std::clamp(alpha, 0, 255);
        if (alpha == alpha_) return;
        alpha_ = alpha;
        ::SetLayeredWindowAttributes(window_, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
    }

    bool MouseOver() const {
        POINT cursor{};
        RECT r{};
        return ::GetCursorPos(&cursor) && ::GetWindowRect(window_, &r) && ::PtInRect(&r, cursor);
    }

    // Fraction of the phase's `duration` that has passed, 0 to 1.
    double Progress(unsigned duration, Clock::time_point now) const {
        if (duration == 0) return 1.0;
        const double ms = std::chrono::duration<double, std::milli>(now - phaseStart_).count();
        return std::min(ms / duration, 1.0);
    }

    void Tick() {
        const Clock::time_point now = Clock::now();
        const bool hot = MouseOver();
        switch (phase_) {
            case Phase::Showing: {
                const double t = Progress(settings_.ShowingAnimationTime, now);
                SetAlpha(static_cast<int>((hot ? settings_.HotOpacity : settings_.Opacity) * t));
                if (t >= 1.0) Enter(Phase::Shown, now);
                break;
            }
            case Phase::Shown:
                SetAlpha(hot ? settings_.HotOpacity : settings_.Opacity);
                if (hot) {
                    phaseStart_ = now;  // the display time starts again when the mouse leaves
                } else if (now - phaseStart_ >= std::chrono::milliseconds(settings_.DisplayTime)) {
                    Enter(Phase::Hiding, now);
                }
                break;
            case Phase::Hiding: {
                const double t = Progress(settings_.HidingAnimationTime, now);
                if (settings_.HidingAnimation == AlertAnimation::Slide) {
                    const int x = home_.x + static_cast<int>((slideTo_ - home_.x) * t);
                    ::SetWindowPos(window_, nullptr, x, home_.y, 0, 0,
                                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                } else if (settings_.HidingAnimation == AlertAnimation::Fade) {
                    SetAlpha(static_cast<int>(settings_.Opacity * (1.0 - t)));
                }
                if (t >= 1.0) Close();
                break;
            }
        }
    }

    void Enter(Phase phase, Clock::time_point now) {
        phase_ = phase;
        phaseStart_ = now;
    }

    void Paint() const {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(window_, &ps);
        const int margin = win32::ScaleToDpi(kMargin, dpi_);
        const int size = win32::ScaleToDpi(kIconSize, dpi_);
        if (icon_ != nullptr)
            ::DrawIconEx(dc, margin, margin, icon_, size, size, 0, nullptr, DI_NORMAL);
        ::EndPaint(window_, &ps);
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = win32::WindowObject<AlertWindow>(window);
        if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
            case WM_TIMER:
                if (wParam == kTimer) self->Tick();
                return 0;
            case WM_PAINT:
                self->Paint();
                return 0;
            case WM_CTLCOLORSTATIC:
                ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            case WM_MOUSEACTIVATE:
                return MA_NOACTIVATE;
            case WM_RBUTTONUP:
                if (self->settings_.CloseOnRightClick) self->Close();
                return 0;
            case WM_NCDESTROY: {
                win32::SetWindowObject(window, nullptr);
                self->window_ = nullptr;
                if (self->icon_ != nullptr) ::DestroyIcon(self->icon_);
                std::erase_if(gAlerts, [self](const auto& alert) { return alert.get() == self; });
                return 0;
            }
            default:
                return ::DefWindowProcW(window, message, wParam, lParam);
        }
    }

    AlertWindowSettings settings_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    int dpi_ = win32::kDefaultDpi;
    win32::GdiHandle<HFONT> captionFont_;
    win32::GdiHandle<HFONT> textFont_;
    POINT home_{};
    int slideTo_ = 0;
    Phase phase_ = Phase::Showing;
    Clock::time_point phaseStart_;
    int alpha_ = -1;
};

}  // namespace

void ShowAlertWindow(const AlertWindowSettings& settings) {
    gAlerts.push_back(std::make_unique<AlertWindow>(settings));
    gAlerts.back()->Open();
}

void WaitForAlertWindows() {
    while (!gAlerts.empty()) {
        // The system's close command (the end of the session, WM_CLOSE) takes them away.
        if (eventloop::TakeCloseRequest()) {
            while (!gAlerts.empty()) gAlerts.back()->Close();
            return;
        }
        if (!eventloop::DispatchSystemMessage()) eventloop::Wait(-1);
    }
}

}  // namespace platform
