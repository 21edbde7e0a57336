// The notification-area icon with its hidden message window, the popup menu and the
// taskbar's edge.
#include <windows.h>
// It needs the declarations of windows.h first.
#include <shellapi.h>

#include <memory>

#include "platform/alert.h"
#include "platform/application.h"
#include "platform/menu.h"
#include "platform/notifyicon.h"
#include "platform/win32/wide.h"
#include "platform/win32/window.h"

namespace platform {

namespace {

// The tray icon's callback message.
constexpr UINT kTrayCallback = 9250;
constexpr UINT kIconId = 1;

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

// The hidden window that owns the icon and the popup menu.
HWND gMenuOwner = nullptr;

class Win32NotifyIcon final : public NotifyIcon {
  public:
    Win32NotifyIcon() {
        static const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
        taskbarCreated_ = taskbarCreated;
        // A top-level hidden window: it receives the "TaskbarCreated" broadcast and the
        // end of the session, which a message-only window would not.
        window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW,
                                    win32::WindowClass(L"TravikVersoesTrayIcon", WindowProc), L"",
                                    WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, Instance(), nullptr);
        win32::SetWindowObject(window_, this);
        gMenuOwner = window_;
    }

    ~Win32NotifyIcon() override {
        Remove();
        if (gMenuOwner == window_) gMenuOwner = nullptr;
        ::DestroyWindow(window_);
    }

    void Add(const std::string& picture, const std::string& hint) override {
        NOTIFYICONDATAW data = Data();
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = kTrayCallback;
        data.hIcon = static_cast<HICON>(::LoadImageW(
            Instance(), win32::Widen(picture).c_str(), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
            ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
        if (data.hIcon == nullptr) data.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        const std::wstring tip = win32::Widen(hint).substr(0, ARRAYSIZE(data.szTip) - 1);
        tip.copy(data.szTip, tip.size());
        data.szTip[tip.size()] = L'\0';
        added_ = ::Shell_NotifyIconW(added_ ? NIM_MODIFY : NIM_ADD, &data) != FALSE || added_;
    }

    void Remove() override {
        if (!added_) return;
        NOTIFYICONDATAW data = Data();
        ::Shell_NotifyIconW(NIM_DELETE, &data);
        added_ = false;
    }

    bool Added() const override { return added_; }

  private:
    NOTIFYICONDATAW Data() const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = window_;
        data.uID = kIconId;
        return data;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = win32::WindowObject<Win32NotifyIcon>(window);
        if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
        if (message == kTrayCallback) {
            self->Mouse(static_cast<UINT>(lParam));
            return 0;
        }
        if (message == self->taskbarCreated_) {
            // The notification area was rebuilt (the shell restarted): the icon is gone.
            self->added_ = false;
            if (self->OnTaskbarCreated)
                Application::Instance().Post([self] {
                    if (self->OnTaskbarCreated) self->OnTaskbarCreated();
                });
            return 0;
        }
        if (message == WM_ENDSESSION && wParam != FALSE) {
            if (self->OnEndSession) self->OnEndSession();
            self->Remove();
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    void Mouse(UINT event) {
        MouseAction action;
        switch (event) {
            case WM_LBUTTONDOWN:
                action = MouseAction::LeftDown;
                break;
            case WM_LBUTTONUP:
                action = MouseAction::LeftUp;
                break;
            case WM_LBUTTONDBLCLK:
                action = MouseAction::LeftDblClick;
                break;
            case WM_RBUTTONDOWN:
                action = MouseAction::RightDown;
                break;
            case WM_RBUTTONUP:
                action = MouseAction::RightUp;
                break;
            case WM_RBUTTONDBLCLK:
                action = MouseAction::RightDblClick;
                break;
            default:
                return;
        }
        // Handled by the application's loop, where a failure reaches its error box.
        if (OnMouse)
            Application::Instance().Post([this, action] {
                if (OnMouse) OnMouse(action);
            });
    }

    HWND window_ = nullptr;
    UINT taskbarCreated_ = 0;
    bool added_ = false;
};

}  // namespace

std::unique_ptr<NotifyIcon> CreateNotifyIcon() {
    return std::make_unique<Win32NotifyIcon>();
}

int TrackPopupMenu(const PopupMenu& menu, int x, int y) {
    HMENU popup = ::CreatePopupMenu();
    for (std::size_t i = 0; i < menu.Items.size(); ++i) {
        const MenuItem* item = menu.Items[i];
        if (item->IsSeparator()) {
            ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        } else {
            ::AppendMenuW(popup, MF_STRING, i + 1, win32::Widen(item->Caption).c_str());
        }
    }
    HWND owner = gMenuOwner;
    // The owner must be in the foreground, or the menu does not close when the user clicks
    // elsewhere; the empty message afterwards lets a second click work at once.
    if (owner != nullptr) ::SetForegroundWindow(owner);
    const int chosen = static_cast<int>(::TrackPopupMenu(
        popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, owner, nullptr));
    if (owner != nullptr) ::PostMessageW(owner, WM_NULL, 0, 0);
    ::DestroyMenu(popup);
    return chosen - 1;
}

Point CursorPos() {
    POINT p{};
    ::GetCursorPos(&p);
    return Point{p.x, p.y};
}

std::optional<TaskbarEdge> QueryTaskbarEdge() {
    APPBARDATA data{};
    data.cbSize = sizeof data;
    if (::SHAppBarMessage(ABM_GETTASKBARPOS, &data) == 0) return std::nullopt;
    switch (data.uEdge) {
        case ABE_LEFT:
            return TaskbarEdge::Left;
        case ABE_TOP:
            return TaskbarEdge::Top;
        case ABE_RIGHT:
            return TaskbarEdge::Right;
        case ABE_BOTTOM:
            return TaskbarEdge::Bottom;
        default:
            return std::nullopt;
    }
}

}  // namespace platform
