#include "support/SettingsStore.h"

#include "platform/exception.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace support {

namespace {

namespace fs = platform::fs;

template <typename T>
void Change(T& field, const T& value, bool& refresh) {
    if (field == value) return;
    field = value;
    refresh = true;
}

platform::KnownFolder KnownFolderOf(TSettingsSpecialFolder folder) {
    switch (folder) {
        case TSettingsSpecialFolder::sfUserAppDataLocal:
            return platform::KnownFolder::UserAppDataLocal;
        case TSettingsSpecialFolder::sfUserDocuments:
            return platform::KnownFolder::UserDocuments;
        case TSettingsSpecialFolder::sfProgramData:
            return platform::KnownFolder::ProgramData;
        default:
            return platform::KnownFolder::UserAppDataRoaming;
    }
}

namespace registry = platform::registry;

registry::Root RootOf(TSettingsRegKey key) {
    switch (key) {
        case TSettingsRegKey::hkeyClassesRoot:
            return registry::Root::ClassesRoot;
        case TSettingsRegKey::hkeyLocalMachine:
            return registry::Root::LocalMachine;
        case TSettingsRegKey::hkeyUsers:
            return registry::Root::Users;
        case TSettingsRegKey::hkeyCurrentConfig:
            return registry::Root::CurrentConfig;
        default:
            return registry::Root::CurrentUser;
    }
}

registry::Access AccessOf(const TSettingsRegAccess& access) {
    registry::Access mask = 0;
    for (TSettingsRegAccessKey key : access) {
        switch (key) {
            case TSettingsRegAccessKey::keyQueryValue:
                mask |= registry::kQueryValue;
                break;
            case TSettingsRegAccessKey::keySetValue:
                mask |= registry::kSetValue;
                break;
            case TSettingsRegAccessKey::keyCreateSubKey:
                mask |= registry::kCreateSubKey;
                break;
            case TSettingsRegAccessKey::keyEnumerateSubKeys:
                mask |= registry::kEnumerateSubKeys;
                break;
            case TSettingsRegAccessKey::keyNotify:
                mask |= registry::kNotify;
                break;
            case TSettingsRegAccessKey::keyCreateLink:
                mask |= registry::kCreateLink;
                break;
            case TSettingsRegAccessKey::keyRead:
                mask |= registry::kRead;
                break;
            case TSettingsRegAccessKey::keyWrite:
                mask |= registry::kWrite;
                break;
            case TSettingsRegAccessKey::keyExecute:
                mask |= registry::kExecute;
                break;
            case TSettingsRegAccessKey::keyAllAccess:
                mask |= registry::kAllAccess;
                break;
        }
    }
    return mask;
}

}  // namespace

TSettingsStore::TSettingsStore() = default;
TSettingsStore::~TSettingsStore() = default;

void TSettingsStore::SetPathType(TSettingsPathType value) {
    Change(FPathType, value, FRefreshStorage);
}
void TSettingsStore::SetPath(const std::string& value) {
    Change(FPath, value, FRefreshStorage);
}
void TSettingsStore::SetSpecialFolder(TSettingsSpecialFolder value) {
    Change(FSpecialFolder, value, FRefreshStorage);
}
void TSettingsStore::SetFileEncoding(TSettingsFileEncoding value) {
    Change(FFileEncoding, value, FRefreshStorage);
}
void TSettingsStore::SetRegKey(TSettingsRegKey value) {
    Change(FRegKey, value, FRefreshStorage);
}
void TSettingsStore::SetRegAccess(const TSettingsRegAccess& value) {
    Change(FRegAccess, value, FRefreshStorage);
}

std::string TSettingsStore::ResolvedIniPath() const {
    const std::string exe = fs::ApplicationExeName();
    if (FSpecialFolder == TSettingsSpecialFolder::sfNone) {
        // A path with a folder is used as it is; a bare name lies beside the program, and
        // no name at all gives the program's name with ".ini".
        if (FPath.find(fs::kPathDelim) != std::string::npos) return FPath;
        if (!FPath.empty()) return fs::ExtractFilePath(exe) + FPath;
        const std::string name = fs::ExtractFileName(exe);
        const auto dot = name.find_last_of('.');
        return fs::ExtractFilePath(exe) + (dot == std::string::npos ? name : name.substr(0, dot)) +
               ".ini";
    }
    std::string name = FPath.empty() ? fs::ExtractFileName(exe) + ".ini" : FPath;
    while (!name.empty() && name.front() == fs::kPathDelim) name.erase(0, 1);
    return platform::KnownFolderPath(KnownFolderOf(FSpecialFolder)) + name;
}

void TSettingsStore::PrepareStorage() {
    if (!FRefreshStorage) return;
    FIni.reset();
    if (FPathType == TSettingsPathType::ptRegistry) {
        // Values live under the key Path\Section of the root; nothing to read ahead.
        if (!registry::Available())
            throw platform::Exception("Registry settings are not available on this platform");
        FRefreshStorage = false;
        return;
    }
    const std::string path = ResolvedIniPath();
    FIni = std::make_unique<TMemIniFile>(path);
    FPath = path;
    FRefreshStorage = false;
}

void TSettingsStore::SaveIni() {
    switch (FFileEncoding) {
        case TSettingsFileEncoding::feDefault:
            FIni->Encoding = IniEncoding::Ansi;
            break;
        case TSettingsFileEncoding::feUTF8:
            FIni->Encoding = IniEncoding::Utf8;
            break;
        case TSettingsFileEncoding::feUnicode:
            FIni->Encoding = IniEncoding::Utf16LE;
            break;
    }
    FIni->UpdateFile();
}

std::string TSettingsStore::RegistryKey(const std::string& Section) const {
    std::string key = FPath;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key.empty() ? Section : key + '\\' + Section;
}

void TSettingsStore::WriteString(const std::string& Section, const std::string& Ident,
                                 const std::string& Value) {
    PrepareStorage();
    if (!FIni) {
        registry::WriteString(RootOf(FRegKey), RegistryKey(Section), Ident, Value,
                              AccessOf(FRegAccess));
        return;
    }
    FIni->WriteString(Section, Ident, Value);
    SaveIni();
}

std::string TSettingsStore::ReadString(const std::string& Section, const std::string& Ident,
                                       const std::string& Default) {
    PrepareStorage();
    if (!FIni)
        return registry::ReadString(RootOf(FRegKey), RegistryKey(Section), Ident,
                                    AccessOf(FRegAccess))
            .value_or(Default);
    return FIni->ReadString(Section, Ident, Default);
}

void TSettingsStore::DeleteKey(const std::string& Section, const std::string& Ident) {
    PrepareStorage();
    if (!FIni) {
        registry::DeleteValue(RootOf(FRegKey), RegistryKey(Section), Ident, AccessOf(FRegAccess));
        return;
    }
    FIni->DeleteKey(Section, Ident);
    SaveIni();
}

void TSettingsStore::EraseSection(const std::string& Section) {
    PrepareStorage();
    if (!FIni) {
        registry::DeleteKey(RootOf(FRegKey), RegistryKey(Section));
        return;
    }
    FIni->EraseSection(Section);
    SaveIni();
}

}  // namespace support
