#include "platform/application.h"

#include <algorithm>

#include "platform/errorbox.h"
#include "platform/eventloop.h"
#include "platform/exception.h"
#include "platform/form.h"
#include "platform/fs.h"
#include "platform/timer.h"

namespace platform {

std::string MessageWithPeriod(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + '.';
    return message;
}

Application& Application::Instance() {
    static Application application;
    return application;
}

void Application::Initialize(int argc, const char* const* argv) {
    SetCommandLine(eventloop::CommandLineArguments(argc, argv));
    eventloop::InstallCloseHandler();
}

void Application::SetCommandLine(std::vector<std::string> args) {
    args_ = std::move(args);
}

int Application::ParamCount() const {
    return args_.empty() ? 0 : static_cast<int>(args_.size()) - 1;
}

std::string Application::ParamStr(int index) const {
    if (index < 0 || index >= static_cast<int>(args_.size())) return std::string();
    return args_[static_cast<std::size_t>(index)];
}

std::string Application::Title() const {
    if (!title_.empty()) return title_;
    // Like the program's file name without its extension.
    std::string name = fs::ExtractFileName(args_.empty() ? fs::ApplicationExeName() : args_[0]);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

void Application::Run() {
    if (mainForm_ != nullptr && ShowMainForm) mainForm_->Show();
    while (!terminated_) {
        if (!ProcessMessage()) eventloop::Wait(MillisecondsToNextTimer(Clock::now()));
    }
}

void Application::Terminate() {
    queue_.push_back(Message{true, nullptr});
}

void Application::ProcessMessages() {
    while (ProcessMessage()) {
    }
}

void Application::ProcessMessagesFor(std::chrono::milliseconds duration) {
    const Clock::time_point deadline = Clock::now() + duration;
    for (;;) {
        ProcessMessages();
        const Clock::time_point now = Clock::now();
        if (terminated_ || now >= deadline) return;
        int ms =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        if (const int timer = MillisecondsToNextTimer(now); timer >= 0) ms = std::min(ms, timer);
        eventloop::Wait(ms);
    }
}

void Application::Post(std::function<void()> message) {
    queue_.push_back(Message{false, std::move(message)});
}

void Application::RequestClose() {
    Post([this] {
        if (mainForm_ != nullptr)
            mainForm_->Close();
        else
            Terminate();
    });
}

bool Application::ProcessMessage() {
    if (eventloop::TakeCloseRequest()) RequestClose();
    if (!queue_.empty()) {
        Message message = std::move(queue_.front());
        queue_.pop_front();
        if (message.quit)
            terminated_ = true;
        else
            Dispatch(message.run);
        return true;
    }
    if (Timer* timer = DueTimer(Clock::now())) {
        Dispatch([timer] { timer->Fire(); });
        return true;
    }
    // Looking for a system message runs the window procedures of messages sent from other
    // threads, which may have posted to the queue: those are not left waiting.
    return eventloop::DispatchSystemMessage() || !queue_.empty();
}

void Application::Dispatch(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        HandleException(error);
    }
}

void Application::HandleException(const std::exception& error) {
    if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
    if (OnException) {
        OnException(error);
        return;
    }
    ShowException(error.what());
}

void Application::ShowException(const std::string& message) {
    ShowErrorBox(*this, Title(), MessageWithPeriod(message));
}

Timer* Application::DueTimer(Clock::time_point now) const {
    for (Timer* timer : timers_)
        if (timer->Running() && !timer->firing_ && timer->due_ <= now) return timer;
    return nullptr;
}

int Application::MillisecondsToNextTimer(Clock::time_point now) const {
    int best = -1;
    for (const Timer* timer : timers_) {
        if (!timer->Running() || timer->firing_) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer->due_ - now).count();
        const int ms = static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
        if (best < 0 || ms < best) best = ms;
    }
    return best;
}

void Application::RegisterForm(Form* form) {
    if (mainForm_ == nullptr) mainForm_ = form;
}

void Application::UnregisterForm(Form* form) {
    if (mainForm_ == form) mainForm_ = nullptr;
}

void Application::RegisterTimer(Timer* timer) {
    timers_.push_back(timer);
}

void Application::UnregisterTimer(Timer* timer) {
    std::erase(timers_, timer);
}

}  // namespace platform
