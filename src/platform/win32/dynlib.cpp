// DLLs through LoadLibraryW.
#include <windows.h>

#include "platform/dynlib.h"
#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace platform {

bool DynamicLibrary::Load(const std::string& name) {
    Unload();
    handle_ = reinterpret_cast<void*>(::LoadLibraryW(win32::Widen(name).c_str()));
    return handle_ != nullptr;
}

bool DynamicLibrary::LoadShipped(const std::string& name) {
    Unload();
    // The program's folder first: a DLL that depends on another one shipped beside it
    // finds it there too.
    const std::string local = fs::ExtractFilePath(fs::ApplicationExeName()) + name;
    handle_ = reinterpret_cast<void*>(
        ::LoadLibraryExW(win32::Widen(local).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    return handle_ != nullptr || Load(name);
}

void DynamicLibrary::Unload() {
    if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

const char* SslLibraryName() {
    return "libssl-3-x64.dll";
}
const char* CryptoLibraryName() {
    return "libcrypto-3-x64.dll";
}

}  // namespace platform
