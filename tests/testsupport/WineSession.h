// A Wine session for the Windows programs under test: a Wine prefix of its own in a
// temporary folder, a private X display (Xvfb) showing a Windows desktop with its taskbar
// and notification area, and the commands that run a program there, play its user
// (travik-user.exe) and take screenshots.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace testsupport {

class WineSession {
  public:
    // `windowsBuildDir` holds TravikVersoes.exe and travik-user.exe.
    explicit WineSession(std::string windowsBuildDir);
    ~WineSession();
    WineSession(const WineSession&) = delete;
    WineSession& operator=(const WineSession&) = delete;

    const std::string& BuildDir() const { return buildDir_; }
    // The Windows path of a path of this host ("Z:\tmp\...").
    static std::string WindowsPath(const std::string& hostPath);
    // Options that run a Windows program (`exe`, a host path) with `args` in this session.
    Process::Options Options(const std::string& exe, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env = {},
                             const std::string& cwd = "") const;
    // travik-user.exe with its command line; see tests/win32/travik-user.cpp.
    ProcessResult User(const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    // The screen as a PNG file: the whole of it, or the part `crop` names ("WxH+X+Y").
    void Screenshot(const std::string& pngPath, const std::string& crop = "") const;

  private:
    std::string buildDir_;
    std::unique_ptr<TempDir> prefix_;
    std::string display_;
    std::unique_ptr<Process> xvfb_;
    std::unique_ptr<Process> keeper_;
};

}  // namespace testsupport
