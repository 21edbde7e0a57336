// Shared libraries through dlopen.
#include "platform/dynlib.h"

#include <dlfcn.h>

namespace platform {

bool DynamicLibrary::Load(const std::string& name) {
    Unload();
    handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

bool DynamicLibrary::LoadShipped(const std::string& name) {
    return Load(name);
}

void RestrictLibrarySearch() {}

void DynamicLibrary::Unload() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ == nullptr ? nullptr : ::dlsym(handle_, name);
}

const char* SslLibraryName() {
    return "libssl.so.3";
}
const char* CryptoLibraryName() {
    return "libcrypto.so.3";
}

}  // namespace platform
