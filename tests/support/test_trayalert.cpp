#include <gtest/gtest.h>

#include "platform/application.h"
#include "platform/form.h"
#include "platform/menu.h"
#include "support/AlertWindowManager.h"
#include "support/TrayIcon.h"

using platform::MouseAction;
using support::TAlertWindowManager;
using support::TAlertWindowPosition;
using support::TTrayIcon;

namespace {

// A main form with a tray icon set up as the agent's.
struct TrayForm : platform::Form {
    explicit TrayForm(platform::Application& app) : Form(app), tray(*this) {
        item.Caption = "Abrir";
        menu.Items = {&item};
        images.Images = {"TRAVIK"};
        tray.HideOnStartup = true;
        tray.Icons = &images;
        tray.PopupMenu = &menu;
        tray.Loaded();
    }
    platform::ImageList images;
    platform::MenuItem item;
    platform::PopupMenu menu;
    TTrayIcon tray;
};

}  // namespace

TEST(TrayIcon, HideOnStartupKeepsTheMainFormHiddenThroughRun) {
    platform::Application app;
    TrayForm form(app);
    EXPECT_TRUE(form.tray.IconShown());
    EXPECT_FALSE(app.ShowMainForm);
    app.Terminate();
    app.Run();
    EXPECT_FALSE(form.Visible());
}

TEST(TrayIcon, RestoreActionShowsTheMainFormOtherActionsDoNot) {
    platform::Application app;
    TrayForm form(app);
    form.tray.MouseAction(MouseAction::LeftDown);
    form.tray.MouseAction(MouseAction::LeftUp);
    form.tray.MouseAction(MouseAction::RightDblClick);
    EXPECT_FALSE(form.Visible());
    form.tray.MouseAction(MouseAction::LeftDblClick);
    EXPECT_TRUE(form.Visible());
    EXPECT_TRUE(app.ShowMainForm);

    form.Hide();
    form.tray.Enabled = false;
    form.tray.MouseAction(MouseAction::LeftDblClick);
    EXPECT_FALSE(form.Visible());
}

TEST(TrayIcon, MinimisingTheApplicationHidesTheMainForm) {
    platform::Application app;
    TrayForm form(app);
    form.Show();
    app.Minimize();
    EXPECT_FALSE(form.Visible());
}

TEST(AlertWindowManager, ShowPrintsCaptionAndTextAndKeepsTheWindow) {
    TAlertWindowManager manager;
    manager.HidingAnimation = support::TAlertWindowAnimation::awaSlide;
    testing::internal::CaptureStdout();
    auto& window = manager.Show("Travik Versões", "Download Concluido.", 0);
    manager.Show("Segundo", "aviso", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Travik Versões: Download Concluido.\nSegundo: aviso\n");
    EXPECT_EQ(window.Caption, "Travik Versões");
    EXPECT_EQ(window.Position, TAlertWindowPosition::awpBottomRight);  // no taskbar here
    EXPECT_EQ(manager.Windows().size(), 2u);
}

TEST(AlertWindowManager, AutomaticCornerFollowsTheTaskbar) {
    using platform::TaskbarEdge;
    EXPECT_EQ(support::AutoPosition(TaskbarEdge::Left), TAlertWindowPosition::awpBottomLeft);
    EXPECT_EQ(support::AutoPosition(TaskbarEdge::Top), TAlertWindowPosition::awpTopRight);
    EXPECT_EQ(support::AutoPosition(TaskbarEdge::Right), TAlertWindowPosition::awpBottomRight);
    EXPECT_EQ(support::AutoPosition(TaskbarEdge::Bottom), TAlertWindowPosition::awpBottomRight);
    EXPECT_EQ(support::AutoPosition(std::nullopt), TAlertWindowPosition::awpBottomRight);

    TAlertWindowManager manager;
    manager.WindowPosition = TAlertWindowPosition::awpTopLeft;
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager.Show("a", "b", 0).Position, TAlertWindowPosition::awpTopLeft);
    testing::internal::GetCapturedStdout();
}
