// A form: a top-level window owned by the application. The first form created is the
// main form, and closing it ends the application. The window itself is the backend's
// (FormWindow); on POSIX it is headless and only keeps its state.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/component.h"
#include "platform/controls.h"

namespace platform {

class Form;

// The native window of a form, supplied by the backend.
class FormWindow {
  public:
    virtual ~FormWindow() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual void SetTaskbarButton(bool shown) = 0;
    virtual void BringToFront() = 0;
    virtual void Restore() = 0;
    virtual void Minimize() = 0;
    // The control's text or state changed.
    virtual void ControlChanged(const Control&) {}
};
std::unique_ptr<FormWindow> CreateFormWindow(Form& form);

enum class CloseAction { caNone, caHide, caFree, caMinimize };

class Form : public Component {
  public:
    explicit Form(Application& app = Application::Instance());
    ~Form() override;

    Application& App() const { return app_; }
    bool IsMainForm() const { return app_.MainForm() == this; }

    // Window settings (the backend reads them when it draws the window).
    std::string Caption;
    int Left = 0;
    int Top = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
    bool Bordered = true;

    // Makes `control` one of the form's controls (drawn in the order added, parents
    // first); the form's window shows it from then on.
    void AddControl(Control& control);
    const std::vector<Control*>& Controls() const { return controls_; }
    // Called by a control whose text or state changed.
    void ControlChanged(const Control& control) { window_->ControlChanged(control); }

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    void Show() {
        SetVisible(true);
        BringToFront();
    }
    void Hide() { SetVisible(false); }
    void BringToFront();
    void Restore();
    void Minimize();
    // Closes the form: OnClose may change the action; closing the main form (with any
    // action but caNone) terminates the application, another form is hidden.
    void Close();

    NotifyEvent OnCreate;
    std::function<void(Component* Sender, CloseAction& Action)> OnClose;

  protected:
    // Runs OnCreate; a derived form calls it once its components are set up.
    void DoCreate();

  private:
    Application& app_;
    std::vector<Control*> controls_;
    std::unique_ptr<FormWindow> window_;
    bool visible_ = false;
};

}  // namespace platform
