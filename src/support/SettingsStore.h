// The settings store component: values kept in an INI file (or, on Windows, in the
// registry), read and written by section and key. In INI mode every write saves the
// file at once.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/component.h"
#include "support/IniFile.h"

namespace support {

enum class TSettingsPathType { ptIniFile, ptRegistry };
enum class TSettingsSpecialFolder {
    sfNone,
    sfUserAppDataRoaming,
    sfUserAppDataLocal,
    sfUserDocuments,
    sfProgramData
};
enum class TSettingsFileEncoding { feDefault, feUTF8, feUnicode };
enum class TSettingsRegKey {
    hkeyClassesRoot,
    hkeyCurrentUser,
    hkeyLocalMachine,
    hkeyUsers,
    hkeyCurrentConfig
};
enum class TSettingsRegAccessKey {
    keyQueryValue,
    keySetValue,
    keyCreateSubKey,
    keyEnumerateSubKeys,
    keyNotify,
    keyCreateLink,
    keyRead,
    keyWrite,
    keyExecute,
    keyAllAccess,
};
using TSettingsRegAccess = std::set<TSettingsRegAccessKey>;

class TSettingsStore : public platform::Component {
  public:
    TSettingsStore();
    ~TSettingsStore() override;

    // Changing one of these to a different value makes the next operation reopen the
    // storage; setting the same value changes nothing.
    TSettingsPathType PathType() const { return FPathType; }
    void SetPathType(TSettingsPathType value);
    const std::string& Path() const { return FPath; }
    void SetPath(const std::string& value);
    TSettingsSpecialFolder SpecialFolder() const { return FSpecialFolder; }
    void SetSpecialFolder(TSettingsSpecialFolder value);
    TSettingsFileEncoding FileEncoding() const { return FFileEncoding; }
    void SetFileEncoding(TSettingsFileEncoding value);
    TSettingsRegKey RegKey() const { return FRegKey; }
    void SetRegKey(TSettingsRegKey value);
    const TSettingsRegAccess& RegAccess() const { return FRegAccess; }
    void SetRegAccess(const TSettingsRegAccess& value);

    // Stores the value; in INI mode the whole file is written at once. A file that
    // cannot be written raises "Cannot create file "%s". %s" and the value stays in
    // memory.
    void WriteString(const std::string& Section, const std::string& Ident,
                     const std::string& Value);
    std::string ReadString(const std::string& Section, const std::string& Ident,
                           const std::string& Default = {});
    void DeleteKey(const std::string& Section, const std::string& Ident);
    void EraseSection(const std::string& Section);

  private:
    // Opens the storage anew when a setting changed (reading an existing INI file).
    void PrepareStorage();
    std::string ResolvedIniPath() const;
    void SaveIni();
    // Registry mode: the key of a section, below Path.
    std::string RegistryKey(const std::string& Section) const;

    TSettingsPathType FPathType = TSettingsPathType::ptIniFile;
    std::string FPath;
    TSettingsSpecialFolder FSpecialFolder = TSettingsSpecialFolder::sfNone;
    TSettingsFileEncoding FFileEncoding = TSettingsFileEncoding::feDefault;
    TSettingsRegKey FRegKey = TSettingsRegKey::hkeyCurrentUser;
    TSettingsRegAccess FRegAccess{TSettingsRegAccessKey::keyAllAccess};

    std::unique_ptr<TMemIniFile> FIni;
    bool FRefreshStorage = true;
};

}  // namespace support
