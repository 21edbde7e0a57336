// Shared libraries loaded by name at run time.
#pragma once

#include <string>

namespace platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Unload(); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The system's search for the name.
    bool Load(const std::string& name);
    // A library shipped with the program (the TLS libraries): on Windows the program's
    // own folder is tried first, then the system's search; elsewhere as Load.
    bool LoadShipped(const std::string& name);
    void Unload();
    bool Loaded() const { return handle_ != nullptr; }
    // Address of an exported symbol, or null.
    void* Symbol(const char* name) const;

  private:
    void* handle_ = nullptr;
};

// The file names of the TLS libraries on this platform.
const char* SslLibraryName();     // libssl
const char* CryptoLibraryName();  // libcrypto

}  // namespace platform
