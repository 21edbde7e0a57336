// The default error box: a modal message box with the error icon. Afterwards the agent
// stays in the notification area until the user closes it; the exit status then says
// that an error ended the run.
#include <windows.h>

#include "platform/application.h"
#include "platform/errorbox.h"
#include "platform/win32/wide.h"

namespace platform {

void ShowErrorBox(Application& app, const std::string& caption, const std::string& text) {
    app.SetExitCode(1);
    ::MessageBoxW(nullptr, win32::Widen(text).c_str(), win32::Widen(caption).c_str(),
                  MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace platform
