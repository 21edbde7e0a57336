// The forms' native windows.
#include <windows.h>

#include "platform/form.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<Form*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_CLOSE && form != nullptr) {
        Form* target = form;
        form->App().Post([target] { target->Close(); });
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

class Win32FormWindow final : public FormWindow {
  public:
    explicit Win32FormWindow(Form& form) : form_(form) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = FormProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = ::LoadIconW(instance, L"MAINICON");
        windowClass.lpszClassName = L"TfTravikVersoes";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName,
                                    win32::Widen(form.Caption).c_str(), WS_POPUP, form.Left,
                                    form.Top, form.ClientWidth, form.ClientHeight, nullptr,
                                    nullptr, instance, nullptr);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&form));
    }
    ~Win32FormWindow() override { ::DestroyWindow(window_); }

    void SetVisible(bool visible) override { ::ShowWindow(window_, visible ? SW_SHOW : SW_HIDE); }
    void SetTaskbarButton(bool shown) override {
        LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_EXSTYLE);
        style = shown ? ((style & ~WS_EX_TOOLWINDOW) | WS_EX_APPWINDOW)
                      : ((style & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
        ::SetWindowLongPtrW(window_, GWL_EXSTYLE, style);
    }
    void BringToFront() override { ::SetForegroundWindow(window_); }
    void Restore() override {
        if (::IsIconic(window_)) ::ShowWindow(window_, SW_RESTORE);
    }
    void Minimize() override { ::ShowWindow(window_, SW_MINIMIZE); }

  private:
    Form& form_;
    HWND window_ = nullptr;
};

}  // namespace

std::unique_ptr<FormWindow> CreateFormWindow(Form& form) {
    return std::make_unique<Win32FormWindow>(form);
}

}  // namespace platform
