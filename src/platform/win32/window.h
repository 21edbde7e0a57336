// The program's own window classes and the object behind each of its windows.
#pragma once

#include <windows.h>

namespace platform::win32 {

// Registers the class `name` (once per process) with the arrow cursor and the program's
// icon; `background` is a system colour index, or -1 for none. Returns `name`.
const wchar_t* WindowClass(const wchar_t* name, WNDPROC procedure, int background = -1);

// The object a window procedure works for, kept in the window's user data.
inline void SetWindowObject(HWND window, void* object) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
}
template <typename T>
T* WindowObject(HWND window) {
    return reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace platform::win32
