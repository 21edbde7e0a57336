// The alert: a small top-most window with the caption and the text as child controls, in
// the chosen corner of the work area, closed after its display time or by a right click.
#include <windows.h>

#include "platform/alert.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK AlertProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kCloseTimer) ::DestroyWindow(window);
            return 0;
        case WM_RBUTTONUP:
            ::DestroyWindow(window);
            return 0;
        case WM_NCHITTEST: {
            // Clicks on the texts belong to the window, so a right click anywhere closes it.
            return HTCLIENT;
        }
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void ShowAlertWindow(const AlertWindowSpec& spec) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AlertProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
    windowClass.lpszClassName = L"TravikVersoesAlert";
    ::RegisterClassW(&windowClass);

    constexpr int width = 320;
    constexpr int height = 90;
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const bool left = spec.Corner == ScreenCorner::TopLeft || spec.Corner == ScreenCorner::BottomLeft;
    const bool top = spec.Corner == ScreenCorner::TopLeft || spec.Corner == ScreenCorner::TopRight;
    const int x = left ? work.left : work.right - width;
    const int y = top ? work.top : work.bottom - height;
    HWND window = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName,
                                    win32::Widen(spec.Caption).c_str(), WS_POPUP | WS_BORDER, x, y,
                                    width, height, nullptr, nullptr, instance, nullptr);
    ::CreateWindowExW(0, L"STATIC", win32::Widen(spec.Caption).c_str(),
                      WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 8, width - 20, 20, window, nullptr,
                      instance, nullptr);
    ::CreateWindowExW(0, L"STATIC", win32::Widen(spec.Text).c_str(),
                      WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 32, width - 20, height - 40, window,
                      nullptr, instance, nullptr);
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    ::SetTimer(window, kCloseTimer, spec.DisplayTime, nullptr);
}

}  // namespace platform
