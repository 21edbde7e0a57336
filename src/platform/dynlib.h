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

    bool Load(const std::string& name);
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
