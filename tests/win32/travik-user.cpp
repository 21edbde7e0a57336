// Plays the user of the Windows agent in the tests: finds its windows, reads their texts
// (the window's and its children's, through WM_GETTEXT), clicks, and sends what the tray
// icon and its menu would. Each command prints what it found and exits 0, or 1 when the
// window did not come in time.
//
//   travik-user wait CLASS TITLE MS      the window's texts, one a line (TITLE "" for any)
//   travik-user gone CLASS TITLE MS      waits until no such window exists
//   travik-user click CLASS TITLE BUTTON clicks the child button with that text
//   travik-user tray MESSAGE             the tray icon's callback (513 left down, 515 left
//                                        double click, 517 right up, ...)
//   travik-user menu N MS                chooses the Nth item (separators not counted) of
//                                        the open popup menu
//   travik-user close CLASS TITLE        sends WM_CLOSE
//   travik-user show CLASS TITLE MS      the window and its children, a line each:
//                                        class|visible|left,top,width,height|text, then the
//                                        window's flags (toolwindow, appwindow, topmost,
//                                        alpha=N) and a progress bar's pos=N/MAX
//   travik-user rclick CLASS TITLE       a right click in the middle of the window
//   travik-user hover CLASS TITLE|off    moves the mouse over the window, or away from all
//   travik-user icon [HWND]              whether the notification area holds the tray
//                                        window's icon: prints the window and "icon" or
//                                        "no icon" (exit 0 with an icon, 1 without)
//   travik-user newtaskbar               plays a restart of the shell: the notification
//                                        area loses the icon, then "TaskbarCreated" comes
//   travik-user endsession               tells the agent's windows that the Windows
//                                        session ends, as the system does at log-off
//   travik-user list                     every top-level window
//   travik-user stay                     keeps a hidden window until it is killed, so
//                                        Wine's desktop stays between the programs
#include <windows.h>
// These need the declarations of windows.h first.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring Text(HWND window) {
    wchar_t buffer[4096] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        2000, nullptr);
    return buffer;
}

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    utf8.resize(std::strlen(utf8.c_str()));
    return utf8;
}

void Print(const std::wstring& text) {
    std::printf("%s\n", Narrow(text).c_str());
}

std::wstring Widen(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

struct Search {
    std::wstring className;
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    if (search->className != name) return TRUE;
    if (!search->title.empty() && Text(window).find(search->title) == std::wstring::npos)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND Find(const std::wstring& className, const std::wstring& title) {
    Search search{className, title};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::wstring& className, const std::wstring& title, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = Find(className, title)) return w;
        if (GetTickCount() - start > ms) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    if (IsWindowVisible(child)) Print(Text(child));
    return TRUE;
}

struct ButtonSearch {
    std::wstring text;
    HWND found = nullptr;
};

BOOL CALLBACK MatchButton(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ButtonSearch*>(param);
    std::wstring text = Text(child);
    std::wstring plain;
    for (wchar_t c : text)
        if (c != L'&') plain += c;
    if (plain == search->text) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

std::string ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return Narrow(name);
}

// One line about a window: class, visibility, screen rectangle, text, flags.
void Describe(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    std::string line = ClassOf(window) + "|" + (IsWindowVisible(window) ? "visible" : "hidden") +
                       "|" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                       std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) +
                       "|" + Narrow(Text(window));
    const LONG_PTR ex = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (ex & WS_EX_TOOLWINDOW) line += "|toolwindow";
    if (ex & WS_EX_APPWINDOW) line += "|appwindow";
    if (ex & WS_EX_TOPMOST) line += "|topmost";
    BYTE alpha = 0;
    DWORD flags = 0;
    if ((ex & WS_EX_LAYERED) && GetLayeredWindowAttributes(window, nullptr, &alpha, &flags) &&
        (flags & LWA_ALPHA))
        line += "|alpha=" + std::to_string(alpha);
    if (ClassOf(window) == "msctls_progress32")
        line += "|pos=" + std::to_string(SendMessageW(window, PBM_GETPOS, 0, 0)) + "/" +
                std::to_string(SendMessageW(window, PBM_GETRANGE, FALSE, 0));
    std::printf("%s\n", line.c_str());
}

BOOL CALLBACK DescribeChild(HWND child, LPARAM) {
    Describe(child);
    return TRUE;
}

BOOL CALLBACK DescribeTopLevel(HWND window, LPARAM) {
    Describe(window);
    return TRUE;
}

// Whether the notification area has icon 1 of `owner`: changing nothing of it succeeds
// only while it is there.
NOTIFYICONDATAW TrayIcon(HWND owner) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = 1;
    return data;
}

bool HasTrayIcon(HWND owner) {
    NOTIFYICONDATAW data = TrayIcon(owner);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

int Usage() {
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF, as the tests read them
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "wait" && argc == 5) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), static_cast<DWORD>(atoi(argv[4])));
        if (w == nullptr) return 1;
        Print(Text(w));
        EnumChildWindows(w, PrintChild, 0);
        return 0;
    }
    if (command == "gone" && argc == 5) {
        const DWORD start = GetTickCount();
        while (Find(Widen(argv[2]), Widen(argv[3])) != nullptr) {
            if (GetTickCount() - start > static_cast<DWORD>(atoi(argv[4]))) return 1;
            Sleep(50);
        }
        return 0;
    }
    if (command == "click" && argc == 5) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), 10000);
        if (w == nullptr) return 1;
        ButtonSearch search{Widen(argv[4])};
        EnumChildWindows(w, MatchButton, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return 1;
        PostMessageW(search.found, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "tray" && argc == 3) {
        HWND w = WaitFor(L"TravikVersoesTrayIcon", L"", 10000);
        if (w == nullptr) return 1;
        // The mouse is where the user clicked: on the notification area.
        RECT bar{};
        if (HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr); GetWindowRect(taskbar, &bar))
            SetCursorPos(bar.right - 10, (bar.top + bar.bottom) / 2);
        PostMessageW(w, 9250, 1, static_cast<LPARAM>(atoi(argv[2])));
        return 0;
    }
    if (command == "menu" && argc == 4) {
        // Another process cannot read a menu's items under Wine, which keeps menus per
        // process; the keyboard reaches them anywhere.
        HWND w = WaitFor(L"#32768", L"", static_cast<DWORD>(atoi(argv[3])));
        if (w == nullptr) return 1;
        for (int i = atoi(argv[2]); i > 0; --i) PostMessageW(w, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageW(w, WM_KEYDOWN, VK_RETURN, 0);
        return 0;
    }
    if (command == "close" && argc == 4) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), 10000);
        if (w == nullptr) return 1;
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == "show" && argc == 5) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), static_cast<DWORD>(atoi(argv[4])));
        if (w == nullptr) return 1;
        Describe(w);
        EnumChildWindows(w, DescribeChild, 0);
        return 0;
    }
    if (command == "rclick" && argc == 4) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), 10000);
        if (w == nullptr) return 1;
        RECT r{};
        GetClientRect(w, &r);
        const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
        PostMessageW(w, WM_RBUTTONDOWN, MK_RBUTTON, at);
        PostMessageW(w, WM_RBUTTONUP, 0, at);
        return 0;
    }
    if (command == "hover" && argc == 4) {
        if (std::strcmp(argv[3], "off") == 0) return SetCursorPos(0, 0) ? 0 : 1;
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), 10000);
        if (w == nullptr) return 1;
        RECT r{};
        GetWindowRect(w, &r);
        return SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2) ? 0 : 1;
    }
    if (command == "icon" && (argc == 2 || argc == 3)) {
        HWND w = argc == 3 ? reinterpret_cast<HWND>(std::strtoull(argv[2], nullptr, 10))
                           : WaitFor(L"TravikVersoesTrayIcon", L"", 10000);
        if (w == nullptr) return 1;
        const bool has = HasTrayIcon(w);
        std::printf("%llu %s\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(w)),
                    has ? "icon" : "no icon");
        return has ? 0 : 1;
    }
    if (command == "newtaskbar" && argc == 2) {
        HWND w = WaitFor(L"TravikVersoesTrayIcon", L"", 10000);
        if (w == nullptr) return 1;
        NOTIFYICONDATAW data = TrayIcon(w);
        Shell_NotifyIconW(NIM_DELETE, &data);
        if (HasTrayIcon(w)) return 1;
        SendMessageW(w, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        return 0;
    }
    if (command == "endsession" && argc == 2) {
        // The system asks every top-level window, then tells each that the session ends.
        std::vector<HWND> windows;
        for (const wchar_t* name : {L"TravikVersoesApplication", L"TravikVersoesTrayIcon"}) {
            if (HWND w = Find(name, L"")) windows.push_back(w);
        }
        if (windows.empty()) return 1;
        for (HWND w : windows) SendMessageW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        for (HWND w : windows) SendMessageW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        return 0;
    }
    if (command == "stay" && argc == 2) {
        CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"travik-user", WS_POPUP, 0, 0, 0, 0, nullptr,
                        nullptr, nullptr, nullptr);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        return 0;
    }
    if (command == "list" && argc == 2) {
        EnumWindows(DescribeTopLevel, 0);
        return 0;
    }
    return Usage();
}
