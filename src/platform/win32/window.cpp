#include "platform/win32/window.h"

namespace platform::win32 {

const wchar_t* WindowClass(const wchar_t* name, WNDPROC procedure, int background) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    if (::GetClassInfoW(instance, name, &windowClass)) return name;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = ::LoadIconW(instance, L"MAINICON");
    if (background >= 0) windowClass.hbrBackground = reinterpret_cast<HBRUSH>(background + 1);
    windowClass.lpszClassName = name;
    ::RegisterClassW(&windowClass);
    return name;
}

}  // namespace platform::win32
