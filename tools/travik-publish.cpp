// travik-publish: publishes, lists, checks and withdraws versions in the update database
// and reports what the machines run. See docs/ADMIN.md.
#include "admin/PublishTool.h"
#include "platform/eventloop.h"

int main(int argc, char** argv) {
    auto args = platform::eventloop::CommandLineArguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    return admin::RunPublishTool(args);
}
