// Program entry of the update agent: the application object, the main form, the loop.
#include "agent/uTravikVersoes.h"
#include "platform/alert.h"
#include "platform/application.h"
#include "platform/dynlib.h"

int main(int argc, char** argv) {
    // Packages land in the agent's folder: libraries never come from there by name.
    platform::RestrictLibrarySearch();
    auto& application = platform::Application::Instance();
    application.Initialize(argc, argv);
    application.MainFormOnTaskBar = true;
    int exitCode = 0;
    {
        agent::TfTravikVersoes fTravikVersoes(application);
        application.Run();
        exitCode = application.ExitCode();
    }
    // The form and its tray icon are gone; an alert of the run stays until it has been seen.
    platform::WaitForAlertWindows();
    return exitCode;
}
