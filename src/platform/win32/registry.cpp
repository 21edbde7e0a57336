// Registry text values (REG_SZ) through the wide-character registry functions.
#include <windows.h>

#include "platform/exception.h"
#include "platform/registry.h"
#include "platform/win32/wide.h"

namespace platform::registry {

namespace {

HKEY RootKey(Root root) {
    switch (root) {
        case Root::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case Root::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case Root::Users:
            return HKEY_USERS;
        case Root::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
        case Root::CurrentUser:
        default:
            return HKEY_CURRENT_USER;
    }
}

[[noreturn]] void Fail(const std::string& what, const std::string& key, LONG status) {
    throw Exception(what + " \"" + key + "\". " +
                    win32::SystemErrorText(static_cast<unsigned long>(status)));
}

// An open key, closed with the object.
class Key {
  public:
    Key(Root root, const std::string& path, Access access) : path_(path) {
        const LONG status = ::RegCreateKeyExW(RootKey(root), win32::Widen(path).c_str(), 0,
                                              nullptr, REG_OPTION_NON_VOLATILE,
                                              static_cast<REGSAM>(access), nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS) Fail("Cannot open registry key", path, status);
    }
    ~Key() { ::RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    HKEY key_ = nullptr;
};

}  // namespace

bool Available() {
    return true;
}

std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                      Access access) {
    Key k(root, key, access);
    const std::wstring wname = win32::Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG status = ::RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) Fail("Cannot read registry value of", key, status);
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    status = ::RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(value.data()), &size);
    if (status != ERROR_SUCCESS) Fail("Cannot read registry value of", key, status);
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return win32::Narrow(value);
}

void WriteString(Root root, const std::string& key, const std::string& name,
                 const std::string& value, Access access) {
    Key k(root, key, access);
    const std::wstring wvalue = win32::Widen(value);
    const LONG status = ::RegSetValueExW(
        k.get(), win32::Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wvalue.c_str()),
        static_cast<DWORD>((wvalue.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) Fail("Cannot write registry value of", key, status);
}

void DeleteValue(Root root, const std::string& key, const std::string& name, Access access) {
    Key k(root, key, access);
    const LONG status = ::RegDeleteValueW(k.get(), win32::Widen(name).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        Fail("Cannot delete registry value of", key, status);
}

void DeleteKey(Root root, const std::string& key) {
    const LONG status = ::RegDeleteTreeW(RootKey(root), win32::Widen(key).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        Fail("Cannot delete registry key", key, status);
}

}  // namespace platform::registry
