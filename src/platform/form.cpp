#include "platform/form.h"

namespace platform {

Form::Form(Application& app) : app_(app), window_(CreateFormWindow(*this)) {
    app_.RegisterForm(this);
}

Form::~Form() {
    app_.UnregisterForm(this);
}

void Form::AddControl(Control& control) {
    control.form_ = this;
    controls_.push_back(&control);
}

void Control::Changed() {
    if (form_ != nullptr) form_->ControlChanged(*this);
}

void Form::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    if (IsMainForm()) window_->SetTaskbarButton(visible && app_.MainFormOnTaskBar);
    window_->SetVisible(visible);
}

void Form::BringToFront() {
    window_->BringToFront();
}

void Form::Restore() {
    window_->Restore();
}

void Form::Minimize() {
    window_->Minimize();
}

void Form::Close() {
    CloseAction action = IsMainForm() ? CloseAction::caFree : CloseAction::caHide;
    if (OnClose) OnClose(this, action);
    if (action == CloseAction::caNone) return;
    if (IsMainForm()) {
        app_.Terminate();
    } else if (action == CloseAction::caMinimize) {
        Minimize();
    } else {
        Hide();
    }
}

void Form::DoCreate() {
    if (OnCreate) OnCreate(this);
}

}  // namespace platform
