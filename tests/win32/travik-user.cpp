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
//   travik-user menu ITEM MS             chooses the item of the open popup menu
//   travik-user close CLASS TITLE        sends WM_CLOSE
#include <windows.h>

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

void Print(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    std::fwrite(utf8.c_str(), 1, std::strlen(utf8.c_str()), stdout);
    std::fputc('\n', stdout);
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

int Usage() {
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
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
        PostMessageW(w, 9250, 1, static_cast<LPARAM>(atoi(argv[2])));
        return 0;
    }
    if (command == "menu" && argc == 4) {
        HWND w = WaitFor(L"#32768", L"", static_cast<DWORD>(atoi(argv[3])));
        if (w == nullptr) return 1;
        HMENU menu = reinterpret_cast<HMENU>(SendMessageW(w, 0x01E1 /* MN_GETHMENU */, 0, 0));
        const std::wstring wanted = Widen(argv[2]);
        const int count = GetMenuItemCount(menu);
        for (int i = 0; i < count; ++i) {
            wchar_t text[256] = L"";
            GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
            Print(text);
            if (wanted == text) {
                SendMessageW(w, 0x01E5 /* MN_SELECTITEM */, static_cast<WPARAM>(i), 0);
                PostMessageW(w, WM_KEYDOWN, VK_RETURN, 0);
                return 0;
            }
        }
        return 1;
    }
    if (command == "close" && argc == 4) {
        HWND w = WaitFor(Widen(argv[2]), Widen(argv[3]), 10000);
        if (w == nullptr) return 1;
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    return Usage();
}
