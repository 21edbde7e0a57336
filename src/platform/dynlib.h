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

    // A library of the system, by name. On Windows only the system folder is searched:
    // the program's own folder, where packages land, never supplies one.
    bool Load(const std::string& name);
    // A library shipped with the program (the TLS libraries): on Windows by its full path
    // in the program's own folder first, then found along the system's search path and
    // loaded by that path; elsewhere as Load.
    bool LoadShipped(const std::string& name);
    void Unload();
    bool Loaded() const { return handle_ != nullptr; }
    // Address of an exported symbol, or null.
    void* Symbol(const char* name) const;
    // Sets `function` to the exported symbol `name`, or to null; true when it was found.
    template <typename F>
    bool Find(F& function, const char* name) const {
        function = reinterpret_cast<F>(Symbol(name));
        return function != nullptr;
    }

  private:
    void* handle_ = nullptr;
};

// From here on the process loads libraries by name from the system folder only (on
// Windows; elsewhere nothing changes). Called first thing at start-up.
void RestrictLibrarySearch();

// The file names of the TLS libraries on this platform.
const char* SslLibraryName();     // libssl
const char* CryptoLibraryName();  // libcrypto

}  // namespace platform
