// The application object: command line, message loop, termination, the default
// exception handler. One thread runs everything; timers and posted messages are
// dispatched by Run and by ProcessMessages.
#pragma once

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class Form;
class Timer;

// The error box text: the message with "." appended when its last character's code is
// greater than that of ".".
std::string MessageWithPeriod(const std::string& message);

class Application {
  public:
    // The process's application object.
    static Application& Instance();

    Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Keeps the command line and installs the system's close command.
    void Initialize(int argc, const char* const* argv);
    void SetCommandLine(std::vector<std::string> args);  // args[0] is the program
    int ParamCount() const;
    // Argument `index` (0: the program), empty beyond the last one.
    std::string ParamStr(int index) const;

    std::string Title() const;
    void SetTitle(std::string title) { title_ = std::move(title); }

    // Whether Run shows the main form; a tray icon switches it off.
    bool ShowMainForm = true;
    // Whether the main form has its own taskbar button while visible.
    bool MainFormOnTaskBar = false;

    // The first form created; closing it ends the application.
    Form* MainForm() const { return mainForm_; }

    // Dispatches messages until termination is requested.
    void Run();
    // Asks the loop to end once the messages already queued are handled.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Handles every pending message (timers, posted messages, the close command)
    // without waiting.
    void ProcessMessages();
    // Handles messages as they come for `duration`; returns earlier once termination is
    // requested and handled (Terminated() is then true).
    void ProcessMessagesFor(std::chrono::milliseconds duration);
    // Queues a message for the loop.
    void Post(std::function<void()> message);
    // The "close" command from the system (or the headless stand-in for the user):
    // closes the main form through the loop.
    void RequestClose();
    // Minimises the application; OnMinimize lets a component react (a tray icon hides
    // the main form).
    void Minimize() {
        if (OnMinimize) OnMinimize();
    }
    std::function<void()> OnMinimize;

    // The default handler of exceptions escaping an event: OnException when assigned,
    // else ShowException. EAbort is silent.
    void HandleException(const std::exception& error);
    void ShowException(const std::string& message);
    std::function<void(const std::exception&)> OnException;

    int ExitCode() const { return exitCode_; }
    void SetExitCode(int code) { exitCode_ = code; }

  private:
    friend class Form;
    friend class Timer;
    using Clock = std::chrono::steady_clock;

    struct Message {
        bool quit = false;
        std::function<void()> run;
    };

    void RegisterForm(Form* form);
    void UnregisterForm(Form* form);
    void RegisterTimer(Timer* timer);
    void UnregisterTimer(Timer* timer);
    // Handles one message; false when there was none.
    bool ProcessMessage();
    void Dispatch(const std::function<void()>& handler);
    Timer* DueTimer(Clock::time_point now) const;
    // Milliseconds until the next timer is due, -1 when none is running.
    int MillisecondsToNextTimer(Clock::time_point now) const;

    std::vector<std::string> args_;
    std::string title_;
    Form* mainForm_ = nullptr;
    std::vector<Timer*> timers_;
    std::deque<Message> queue_;
    bool terminated_ = false;
    int exitCode_ = 0;
};

}  // namespace platform
