// The forms' native windows. The window is made when the form is first shown, from the
// form's settings and controls then: panels are painted by the form, labels are static
// controls and progress bars the common controls' bar, so every text is a window's text.
// Sizes are given at 96 dots per inch and scaled to the window's resolution.
#include <windows.h>
// It needs the declarations of windows.h first.
#include <commctrl.h>

#include <map>
#include <memory>

#include "platform/form.h"
#include "platform/win32/gdi.h"
#include "platform/win32/wide.h"
#include "platform/win32/window.h"

namespace platform {

namespace {

using win32::ColorOf;
using win32::kDefaultDpi;

// Where each control lies in the form's client area (at 96 dpi): aligned controls share
// out what is left of their parent's inside, in the order they were added; the others
// sit at their Left and Top in the parent.
std::map<const Control*, RECT> Layout(const Form& form) {
    std::map<const Control*, RECT> bounds;
    std::map<const Control*, RECT> free;  // per parent (nullptr: the form)
    const RECT client{0, 0, form.ClientWidth, form.ClientHeight};
    auto freeOf = [&](const Control* parent) -> RECT& {
        auto it = free.find(parent);
        if (it != free.end()) return it->second;
        RECT inside = parent == nullptr ? client : bounds[parent];
        if (const auto* panel = dynamic_cast<const Panel*>(parent)) {
            const int frame = (panel->Lowered || panel->Rounded ? 1 : 0) + panel->BorderWidth;
            ::InflateRect(&inside, -frame, -frame);
        }
        return free.emplace(parent, inside).first->second;
    };
    for (const Control* c : form.Controls()) {
        const RECT origin = c->Parent == nullptr ? client : bounds[c->Parent];
        RECT& space = freeOf(c->Parent);
        RECT r{};
        switch (c->Alignment) {
            case Align::alTop:
                r = {space.left, space.top, space.right, space.top + c->Height};
                space.top = r.bottom;
                break;
            case Align::alBottom:
                r = {space.left, space.bottom - c->Height, space.right, space.bottom};
                space.bottom = r.top;
                break;
            case Align::alLeft:
                r = {space.left, space.top, space.left + c->Width, space.bottom};
                space.left = r.right;
                break;
            case Align::alRight:
                r = {space.right - c->Width, space.top, space.right, space.bottom};
                space.right = r.left;
                break;
            case Align::alClient:
                r = space;
                break;
            case Align::alNone: {
                const int left = origin.left + c->Left;
                const int top = origin.top + c->Top;
                // A label without a size takes one line, with the margin on both sides.
                const int width = c->Width > 0 ? c->Width : origin.right - left - c->Left;
                const int height = c->Height > 0 ? c->Height : -c->ControlFont.Height * 3 / 2;
                r = {left, top, left + width, top + height};
                break;
            }
        }
        bounds[c] = r;
    }
    return bounds;
}

class Win32FormWindow final : public FormWindow {
  public:
    explicit Win32FormWindow(Form& form) : form_(form) {
        // Hidden and without a taskbar button until it is shown.
        window_ = ::CreateWindowExW(
            WS_EX_TOOLWINDOW, win32::WindowClass(L"TfTravikVersoes", WindowProc, COLOR_BTNFACE),
            L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        win32::SetWindowObject(window_, this);
    }
    ~Win32FormWindow() override {
        win32::SetWindowObject(window_, nullptr);
        ::DestroyWindow(window_);
    }

    void SetVisible(bool visible) override {
        if (visible) Build();
        ::ShowWindow(window_, visible ? SW_SHOW : SW_HIDE);
    }
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

    void ControlChanged(const Control& control) override {
        const auto it = children_.find(&control);
        if (it != children_.end()) Refresh(control, it->second.window);
    }

  private:
    struct Child {
        HWND window = nullptr;
        win32::GdiHandle<HFONT> font;
    };

    // Makes the window and its controls from the form's settings, once.
    void Build() {
        if (built_) return;
        built_ = true;
        ::SetWindowTextW(window_, win32::Widen(form_.Caption).c_str());
        if (form_.Bordered) {
            ::SetWindowLongPtrW(window_, GWL_STYLE, WS_POPUP | WS_CAPTION | WS_SYSMENU);
        }
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        for (const Control* c : form_.Controls()) {
            HWND child = nullptr;
            if (const auto* label = dynamic_cast<const Label*>(c)) {
                const DWORD align = label->Centered ? SS_CENTER | SS_CENTERIMAGE : SS_LEFT;
                child = ::CreateWindowExW(0, L"STATIC", win32::Widen(label->Caption()).c_str(),
                                          WS_CHILD | WS_VISIBLE | SS_NOPREFIX | align, 0, 0, 0, 0,
                                          window_, nullptr, instance, nullptr);
            } else if (dynamic_cast<const ProgressBar*>(c) != nullptr) {
                child =
                    ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                      0, 0, 0, 0, window_, nullptr, instance, nullptr);
                ::SendMessageW(child, PBM_SETRANGE32, 0, 100);
            }
            if (child == nullptr) continue;
            children_[c].window = child;
            Refresh(*c, child);
        }
        Arrange(win32::DpiOf(window_), nullptr);
    }

    // Places the window and its controls for `dpi`; `suggested` is the system's new
    // window rectangle when the resolution changed.
    void Arrange(int dpi, const RECT* suggested) {
        dpi_ = dpi;
        bounds_ = Layout(form_);
        RECT frame{0, 0, Scale(form_.ClientWidth), Scale(form_.ClientHeight)};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)),
                             FALSE, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)));
        const int x = suggested != nullptr ? suggested->left : form_.Left;
        const int y = suggested != nullptr ? suggested->top : form_.Top;
        ::SetWindowPos(window_, nullptr, x, y, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        for (auto& [control, child] : children_) {
            const RECT& r = bounds_[control];
            ::MoveWindow(child.window, Scale(r.left), Scale(r.top), Scale(r.right - r.left),
                         Scale(r.bottom - r.top), FALSE);
            // The control lets go of its old font before that is deleted.
            win32::GdiHandle<HFONT> font = win32::CreateScaledFont(control->ControlFont, dpi);
            ::SendMessageW(child.window, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
            child.font = std::move(font);
        }
        ::InvalidateRect(window_, nullptr, TRUE);
    }

    int Scale(int value) const { return win32::ScaleToDpi(value, dpi_); }

    RECT Scaled(const RECT& r) const {
        return {Scale(r.left), Scale(r.top), Scale(r.right), Scale(r.bottom)};
    }

    static void Refresh(const Control& control, HWND child) {
        if (const auto* label = dynamic_cast<const Label*>(&control)) {
            ::SetWindowTextW(child, win32::Widen(label->Caption()).c_str());
        } else if (const auto* bar = dynamic_cast<const ProgressBar*>(&control)) {
            ::SendMessageW(child, PBM_SETPOS, static_cast<WPARAM>(bar->Percent()), 0);
        }
    }

    // The panels, parents before children: a lowered one with a sunken edge, a rounded
    // one as a filled rounded rectangle.
    void Paint(HDC dc) const {
        for (const Control* c : form_.Controls()) {
            const auto* panel = dynamic_cast<const Panel*>(c);
            if (panel == nullptr) continue;
            RECT r = Scaled(bounds_.at(c));
            const win32::GdiHandle<HBRUSH> brush(::CreateSolidBrush(ColorOf(panel->Color)));
            if (panel->Rounded) {
                HGDIOBJ oldBrush = ::SelectObject(dc, brush.get());
                HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(NULL_PEN));
                const int radius = Scale(6);
                ::RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, radius, radius);
                ::SelectObject(dc, oldPen);
                ::SelectObject(dc, oldBrush);
            } else {
                ::FillRect(dc, &r, brush.get());
            }
            if (panel->Lowered) ::DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        }
    }

    // A label is drawn in its font's colour on the colour of the panel it is on.
    LRESULT LabelColors(HDC dc, HWND child) {
        for (const auto& [control, entry] : children_) {
            if (entry.window != child) continue;
            const auto* panel = dynamic_cast<const Panel*>(control->Parent);
            const COLORREF back = ColorOf(panel != nullptr ? panel->Color : clBtnFace);
            ::SetTextColor(dc, ColorOf(control->ControlFont.Color));
            ::SetBkColor(dc, back);
            labelBrush_.reset(::CreateSolidBrush(back));
            return reinterpret_cast<LRESULT>(labelBrush_.get());
        }
        return 0;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = win32::WindowObject<Win32FormWindow>(window);
        if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
            case WM_CLOSE: {
                Form* form = &self->form_;
                form->App().Post([form] { form->Close(); });
                return 0;
            }
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = ::BeginPaint(window, &ps);
                self->Paint(dc);
                ::EndPaint(window, &ps);
                return 0;
            }
            case WM_CTLCOLORSTATIC:
                if (const LRESULT brush = self->LabelColors(reinterpret_cast<HDC>(wParam),
                                                            reinterpret_cast<HWND>(lParam)))
                    return brush;
                break;
            case 0x02E0:  // WM_DPICHANGED: the window moved to a screen of another resolution
                self->Arrange(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
                return 0;
            default:
                break;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    Form& form_;
    HWND window_ = nullptr;
    bool built_ = false;
    int dpi_ = kDefaultDpi;
    std::map<const Control*, RECT> bounds_;
    std::map<const Control*, Child> children_;
    win32::GdiHandle<HBRUSH> labelBrush_;
};

}  // namespace

std::unique_ptr<FormWindow> CreateFormWindow(Form& form) {
    return std::make_unique<Win32FormWindow>(form);
}

}  // namespace platform
