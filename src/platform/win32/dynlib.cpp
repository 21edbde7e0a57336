// DLLs through LoadLibraryExW. System DLLs come from the system folder only; the agent's
// own folder receives packages whose names the database chooses, so nothing is taken from
// it except the TLS libraries, by their full path.
#include <windows.h>

#include <vector>

#include "platform/dynlib.h"
#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

// A DLL by full path; the DLLs it imports come from its own folder or the system folder.
HMODULE LoadByPath(const std::wstring& path) {
    return ::LoadLibraryExW(path.c_str(), nullptr,
                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The full path of a file found along the system's search path, or empty.
std::wstring SearchPath(const std::wstring& name) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = ::SearchPathW(nullptr, name.c_str(), nullptr,
                                      static_cast<DWORD>(path.size()), path.data(), nullptr);
        if (n == 0) return std::wstring();
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(n);
    }
}

}  // namespace

void RestrictLibrarySearch() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool DynamicLibrary::Load(const std::string& name) {
    Unload();
    handle_ = reinterpret_cast<void*>(
        ::LoadLibraryExW(win32::Widen(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    return handle_ != nullptr;
}

bool DynamicLibrary::LoadShipped(const std::string& name) {
    Unload();
    // The program's folder first: a DLL that depends on another one shipped beside it
    // finds it there too.
    const std::string local = fs::ExtractFilePath(fs::ApplicationExeName()) + name;
    handle_ = reinterpret_cast<void*>(LoadByPath(win32::Widen(local)));
    if (handle_ == nullptr) {
        const std::wstring found = SearchPath(win32::Widen(name));
        if (!found.empty()) handle_ = reinterpret_cast<void*>(LoadByPath(found));
    }
    return handle_ != nullptr;
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
