// Drawing helpers of the Win32 windows: owned GDI objects, the screen resolution, fonts
// and colours of the portable controls.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

#include "platform/controls.h"

namespace platform::win32 {

inline constexpr int kDefaultDpi = 96;

struct GdiObjectDeleter {
    void operator()(void* object) const { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
};
// A font, brush or other GDI object, deleted with its owner.
template <typename Handle>
using GdiHandle = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;

// The resolution of `window` (nullptr: of the screen), in dots per inch.
int DpiOf(HWND window);
// `value`, given at 96 dots per inch, at `dpi`.
inline int ScaleToDpi(int value, int dpi) {
    return ::MulDiv(value, dpi, kDefaultDpi);
}
// `font` (its height in pixels at 96 dots per inch) at `dpi`.
GdiHandle<HFONT> CreateScaledFont(const Font& font, int dpi);
// A colour of the controls (the button face included) as the system's.
COLORREF ColorOf(std::uint32_t color);

}  // namespace platform::win32
