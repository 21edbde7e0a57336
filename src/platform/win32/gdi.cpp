#include "platform/win32/gdi.h"

#include "platform/win32/wide.h"

namespace platform::win32 {

int DpiOf(HWND window) {
    // Windows 10 knows each window's resolution; older systems only the screen's.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (window != nullptr && getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

GdiHandle<HFONT> CreateScaledFont(const Font& font, int dpi) {
    return GdiHandle<HFONT>(
        ::CreateFontW(ScaleToDpi(font.Height, dpi), 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE,
                      FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, Widen(font.Name).c_str()));
}

COLORREF ColorOf(std::uint32_t color) {
    return color == clBtnFace ? ::GetSysColor(COLOR_BTNFACE) : static_cast<COLORREF>(color);
}

}  // namespace platform::win32
