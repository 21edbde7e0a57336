// The Win32 side of the message loop. A hidden top-level window receives the system's
// close commands: the end of the Windows session (WM_QUERYENDSESSION, WM_ENDSESSION)
// and WM_CLOSE sent to the program from outside. Waiting also wakes for window messages.
#include "platform/eventloop.h"

#include <windows.h>
// It needs the declarations of windows.h first.
#include <shellapi.h>

#include "platform/application.h"
#include "platform/win32/wide.h"
#include "platform/win32/window.h"

namespace platform::eventloop {

namespace {

volatile LONG closeRequested = 0;
HANDLE wakeEvent = nullptr;

void RequestCloseFromSystem() {
    ::InterlockedExchange(&closeRequested, 1);
    if (wakeEvent != nullptr) ::SetEvent(wakeEvent);
}

LRESULT CALLBACK CloseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;  // the agent never holds up the end of the session
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                RequestCloseFromSystem();
                // The session ends when this returns: run the close now, while the
                // process may still clean up (the tray icon goes with the form).
                Application::Instance().ProcessMessages();
            }
            return 0;
        case WM_CLOSE:
            RequestCloseFromSystem();
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void InstallCloseHandler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    wakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // A top-level window (not message-only), so that session-end broadcasts reach it.
    ::CreateWindowExW(WS_EX_TOOLWINDOW,
                      win32::WindowClass(L"TravikVersoesApplication", CloseWindowProc),
                      win32::Widen(Application::Instance().Title()).c_str(), WS_POPUP, 0, 0, 0, 0,
                      nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

bool TakeCloseRequest() {
    return ::InterlockedExchange(&closeRequested, 0) != 0;
}

void Wait(int timeoutMs) {
    if (closeRequested != 0) return;
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    const DWORD handles = wakeEvent != nullptr ? 1 : 0;
    ::MsgWaitForMultipleObjectsEx(handles, handles != 0 ? &wakeEvent : nullptr, timeout,
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

bool DispatchSystemMessage() {
    MSG message;
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    if (message.message == WM_QUIT) {
        RequestCloseFromSystem();
        return true;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
    return true;
}

std::vector<std::string> CommandLineArguments(int, const char* const*) {
    // The 8-bit arguments are in the ANSI code page; the UTF-16 command line has them all.
    std::vector<std::string> args;
    int count = 0;
    wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (list == nullptr) return args;
    for (int i = 0; i < count; ++i) args.push_back(win32::Narrow(list[i]));
    ::LocalFree(list);
    return args;
}

}  // namespace platform::eventloop
