#include "support/SettingsStore.h"

#include "platform/exception.h"
#include "platform/folders.h"
#include "platform/fs.h"

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
    if (FPathType == TSettingsPathType::ptRegistry)
        throw platform::Exception("Registry settings are not available on this platform");
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

void TSettingsStore::WriteString(const std::string& Section, const std::string& Ident,
                                 const std::string& Value) {
    PrepareStorage();
    FIni->WriteString(Section, Ident, Value);
    SaveIni();
}

std::string TSettingsStore::ReadString(const std::string& Section, const std::string& Ident,
                                       const std::string& Default) {
    PrepareStorage();
    return FIni->ReadString(Section, Ident, Default);
}

void TSettingsStore::DeleteKey(const std::string& Section, const std::string& Ident) {
    PrepareStorage();
    FIni->DeleteKey(Section, Ident);
    SaveIni();
}

void TSettingsStore::EraseSection(const std::string& Section) {
    PrepareStorage();
    FIni->EraseSection(Section);
    SaveIni();
}

}  // namespace support
