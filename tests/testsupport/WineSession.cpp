#include "testsupport/WineSession.h"

#include <unistd.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

// A display number no X server uses.
int FreeDisplay() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int n = 100 + static_cast<int>(random() % 800);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        if (!PathExists(lock) && !PathExists(socket)) return n;
    }
    throw std::runtime_error("no free X display");
}

}  // namespace

WineSession::WineSession(std::string windowsBuildDir)
    : buildDir_(std::move(windowsBuildDir)), prefix_(std::make_unique<TempDir>("travik-wine")) {
    const int n = FreeDisplay();
    display_ = ":" + std::to_string(n);
    xvfb_ = std::make_unique<Process>(Process::Options{
        .argv = {"Xvfb", display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
        .captureOutput = false});
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int i = 0; i < 200 && !PathExists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!PathExists(socket)) throw std::runtime_error("Xvfb did not start on " + display_);
    const ProcessResult boot = Run(Options("", {}), std::chrono::minutes(3));
    if (boot.exitStatus != 0) throw std::runtime_error("wineboot failed: " + boot.out + boot.err);
    // Programs run on a desktop of the screen's size, with a taskbar and notification area.
    const std::vector<std::vector<std::string>> settings = {
        {"HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"},
        {"HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "1280x800"}};
    for (const auto& setting : settings) {
        Process::Options reg = Options("", {});
        reg.argv = {"wine", "reg", "add", setting[0], "/v", setting[1], "/d", setting[2], "/f"};
        if (Run(reg, std::chrono::minutes(1)).exitStatus != 0)
            throw std::runtime_error("cannot set up the Wine desktop");
    }
    // Wine ends its desktop a few seconds after the last program; one that stays keeps it
    // for the whole session, so no program starts on a desktop that is going away.
    Process::Options stay = Options(buildDir_ + "/travik-user.exe", {"stay"});
    stay.captureOutput = false;
    keeper_ = std::make_unique<Process>(stay);
    // The desktop is up once the keeper's window is there; programs start on it from then.
    if (User({"wait", "Static", "travik-user", "60000"}).exitStatus != 0)
        throw std::runtime_error("the Wine desktop did not start");
}

WineSession::~WineSession() {
    // Ends every program of the prefix before its folder goes.
    Process::Options kill = Options("", {});
    kill.argv = {"wineserver", "-k"};
    Run(kill, std::chrono::seconds(30));
    Process::Options wait = Options("", {});
    wait.argv = {"wineserver", "-w"};
    Run(wait, std::chrono::seconds(30));
}

std::string WineSession::WindowsPath(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

Process::Options WineSession::Options(const std::string& exe, const std::vector<std::string>& args,
                                      const std::map<std::string, std::string>& env,
                                      const std::string& cwd) const {
    Process::Options o;
    // An empty program makes the prefix (the first start does that anyway).
    o.argv = exe.empty() ? std::vector<std::string>{"wineboot", "-i"}
                         : std::vector<std::string>{"wine", exe};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = {{"WINEPREFIX", prefix_->path()},
             {"WINEDEBUG", "-all"},
             {"WINEDLLOVERRIDES", "mscoree,mshtml="},
             {"DISPLAY", display_}};
    for (const auto& [k, v] : env) o.env[k] = v;
    o.cwd = cwd;
    return o;
}

ProcessResult WineSession::User(const std::vector<std::string>& args,
                                std::chrono::milliseconds timeout) const {
    return Run(Options(buildDir_ + "/travik-user.exe", args), timeout);
}

void WineSession::Screenshot(const std::string& pngPath, const std::string& crop) const {
    Process::Options o = Options("", {});
    o.argv = {"import", "-window", "root"};
    if (!crop.empty()) o.argv.insert(o.argv.end(), {"-crop", crop, "+repage"});
    o.argv.push_back(pngPath);
    Run(o, std::chrono::seconds(30));
}

}  // namespace testsupport
