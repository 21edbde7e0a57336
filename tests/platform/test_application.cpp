#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/exception.h"
#include "platform/form.h"
#include "platform/timer.h"

using namespace std::chrono_literals;
using platform::Application;
using platform::Form;
using platform::Timer;

namespace {

struct ClosingForm : Form {
    explicit ClosingForm(Application& app) : Form(app) {
        OnClose = [this](platform::Component*, platform::CloseAction&) { ++closes; };
    }
    int closes = 0;
};

}  // namespace

TEST(Application, PeriodIsAppendedWhenTheLastCharacterComesAfterTheDot) {
    EXPECT_EQ(platform::MessageWithPeriod("Erro ao fazer o download do arquivo v2.zip"),
              "Erro ao fazer o download do arquivo v2.zip.");
    EXPECT_EQ(platform::MessageWithPeriod("Lost connection."), "Lost connection.");
    EXPECT_EQ(platform::MessageWithPeriod("Falhou!"), "Falhou!");          // '!' comes before '.'
    EXPECT_EQ(platform::MessageWithPeriod("code (2003)"), "code (2003)");  // ')' too
    EXPECT_EQ(platform::MessageWithPeriod("a/b/"), "a/b/.");               // '/' comes after
    EXPECT_EQ(platform::MessageWithPeriod("instalação"), "instalação.");
    EXPECT_EQ(platform::MessageWithPeriod(""), "");
}

TEST(Application, CommandLineArgumentsBeyondTheLastAreEmpty) {
    Application app;
    const char* argv[] = {"/opt/travik/TravikVersoes.exe", "1", " "};
    app.Initialize(3, argv);
    EXPECT_EQ(app.ParamCount(), 2);
    EXPECT_EQ(app.ParamStr(2), " ");
    EXPECT_EQ(app.ParamStr(3), "");
    EXPECT_EQ(app.ParamStr(-1), "");
    EXPECT_EQ(app.Title(), "TravikVersoes");
}

TEST(Application, TimerFiresAfterItsIntervalAndTheLoopEndsAfterTheQueuedMessages) {
    Application app;
    Timer timer(app);
    std::vector<std::string> order;
    timer.SetInterval(50);
    timer.OnTimer = [&](platform::Component* sender) {
        EXPECT_EQ(sender, &timer);
        timer.SetEnabled(false);
        order.push_back("timer");
        app.Post([&] { order.push_back("before"); });
        app.Terminate();
        app.Post([&] { order.push_back("after"); });
    };
    const auto start = std::chrono::steady_clock::now();
    app.Run();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 50ms);
    EXPECT_LT(elapsed, 2s);
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "before"}));
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(app.ExitCode(), 0);
}

TEST(Application, DisabledOrHandlerlessTimersNeverFire) {
    Application app;
    Timer idle(app);
    idle.SetInterval(1);
    idle.SetEnabled(false);
    int fired = 0;
    idle.OnTimer = [&](platform::Component*) { ++fired; };
    Timer silent(app);  // enabled, but nothing to call
    silent.SetInterval(1);
    Timer stopper(app);
    stopper.SetInterval(30);
    stopper.OnTimer = [&](platform::Component*) { app.Terminate(); };
    app.Run();
    EXPECT_EQ(fired, 0);
}

TEST(Application, ErrorEscapingAHandlerShowsTheErrorBoxAndEndsWithStatusOne) {
    Application app;
    app.SetTitle("TravikVersoes");
    ClosingForm form(app);
    Timer timer(app);
    timer.SetInterval(10);
    timer.OnTimer = [&](platform::Component*) {
        timer.SetEnabled(false);
        throw platform::Exception("Erro ao fazer o download do arquivo pacote.zip");
    };
    testing::internal::CaptureStderr();
    app.Run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Erro ao fazer o download do arquivo pacote.zip.\n");
    EXPECT_EQ(app.ExitCode(), 1);
    EXPECT_EQ(form.closes, 1);  // through the main form, as the user's "Fechar"
}

TEST(Application, SilentAbortAndAssignedHandlerReplaceTheErrorBox) {
    Application app;
    std::vector<std::string> seen;
    app.Post([] { throw platform::EAbort(); });
    app.Post([] { throw std::runtime_error("raw"); });
    testing::internal::CaptureStderr();
    app.ProcessMessages();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "raw.\n");
    EXPECT_EQ(app.ExitCode(), 1);

    Application other;
    other.OnException = [&](const std::exception& e) { seen.push_back(e.what()); };
    other.Post([] { throw platform::Exception("x"); });
    other.ProcessMessages();
    EXPECT_EQ(seen, std::vector<std::string>{"x"});
    EXPECT_EQ(other.ExitCode(), 0);
}

TEST(Application, SignalDuringProcessMessagesClosesTheMainForm) {
    Application app;
    const char* argv[] = {"agent"};
    app.Initialize(1, argv);
    ClosingForm form(app);
    std::raise(SIGTERM);
    EXPECT_FALSE(app.Terminated());
    app.ProcessMessages();  // as a progress handler does between two blocks
    EXPECT_EQ(form.closes, 1);
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(app.ExitCode(), 0);
}

TEST(Application, SignalEndsAWaitingLoopPromptly) {
    Application app;
    const char* argv[] = {"agent"};
    app.Initialize(1, argv);
    ClosingForm form(app);
    Timer late(app);
    late.SetInterval(60000);
    late.OnTimer = [](platform::Component*) { FAIL() << "the timer must not fire"; };
    Timer raiser(app);
    raiser.SetInterval(20);
    raiser.OnTimer = [&](platform::Component*) {
        raiser.SetEnabled(false);
        std::raise(SIGINT);
    };
    const auto start = std::chrono::steady_clock::now();
    app.Run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(form.closes, 1);
}

TEST(Application, ClosingACloseVetoAndSecondaryForms) {
    Application app;
    Form main(app);
    Form secondary(app);
    EXPECT_EQ(app.MainForm(), &main);
    secondary.Show();
    secondary.Close();
    EXPECT_FALSE(secondary.Visible());
    EXPECT_FALSE(app.Terminated());

    main.OnClose = [](platform::Component*, platform::CloseAction& action) {
        action = platform::CloseAction::caNone;
    };
    main.Close();
    app.ProcessMessages();
    EXPECT_FALSE(app.Terminated());
    main.OnClose = nullptr;
    main.Close();
    app.ProcessMessages();
    EXPECT_TRUE(app.Terminated());
}

TEST(Application, RunShowsTheMainFormUnlessSwitchedOff) {
    for (const bool show : {true, false}) {
        Application app;
        app.ShowMainForm = show;
        Form form(app);
        app.Terminate();
        app.Run();
        EXPECT_EQ(form.Visible(), show);
    }
}
