// Headless error box: the text on standard error, then the "Fechar" command.
#include "platform/errorbox.h"

#include <cstdio>

#include "platform/application.h"

namespace platform {

void ShowErrorBox(Application& app, const std::string& /*caption*/, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    app.SetExitCode(1);
    app.RequestClose();
}

}  // namespace platform
