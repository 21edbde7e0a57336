#include "agent/PackageName.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "agent/MessageText.h"
#include "dbclient/DbStrings.h"
#include "platform/exception.h"

namespace agent {

namespace {

bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
}

// Files that the agent loads or runs from its own folder, on either platform: the agent
// itself and its manifest, the TLS libraries, the system DLLs that the Windows agent loads
// by name or imports. A package under one of these names would replace the agent or be
// loaded by it, so the rule is the same everywhere and a database row behaves alike for
// every client. In lower case.
constexpr std::array kReservedNames = {
    "travikversoes", "travikversoes.exe", "travikversoes.exe.manifest", "travikversoes.manifest",
    // TLS libraries (Windows, then Linux).
    "libssl-3-x64.dll", "libcrypto-3-x64.dll", "libssl.so.3", "libcrypto.so.3",
    // Loaded by name.
    "ws2_32.dll", "wship6.dll", "wsock32.dll", "rpcrt4.dll", "secur32.dll", "crypt32.dll",
    "bcrypt.dll", "ncrypt.dll", "winhttp.dll", "advapi32.dll", "version.dll",
    // Imported by the program.
    "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"};

// The names that Windows gives to devices, whatever extension follows them.
constexpr std::array kDeviceNames = {"con",  "prn",  "aux",  "nul",  "conin$", "conout$",
                                     "com1", "com2", "com3", "com4", "com5",   "com6",
                                     "com7", "com8", "com9", "lpt1", "lpt2",   "lpt3",
                                     "lpt4", "lpt5", "lpt6", "lpt7", "lpt8",   "lpt9"};

bool Contains(const auto& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A name that the agent would load or run, or that Windows would not store as given.
bool IsReservedName(const std::string& nomeVersao, const std::string& programFileName) {
    const std::string name = dbclient::LowerCase(nomeVersao);
    if (Contains(kReservedNames, name)) return true;
    std::string program = dbclient::LowerCase(programFileName);
    if (program.size() > 4 && program.ends_with(".exe")) program.resize(program.size() - 4);
    if (!program.empty() && (name == program || name == program + ".exe" ||
                             name == program + ".exe.manifest" || name == program + ".manifest"))
        return true;
    // "CON", "con.zip", "Com1 .txt": the device, not a file.
    const std::string_view base = dbclient::Trim(std::string_view(name).substr(0, name.find('.')));
    if (Contains(kDeviceNames, base)) return true;
    // Windows drops a final dot or blank, so the file would be stored under another name.
    return name.back() == '.' || name.back() == ' ';
}

}  // namespace

void ValidatePackageName(const std::string& nomeVersao, const std::string& programFileName) {
    bool plain = !nomeVersao.empty() && nomeVersao != "." && nomeVersao != "..";
    for (const char c : nomeVersao)
        plain = plain && c != '/' && c != '\\' && c != ':' && !IsControl(c);
    if (!plain || IsReservedName(nomeVersao, programFileName)) {
        throw platform::Exception(
            "Nome de arquivo inválido em nome_versao: " + QuotedForMessage(nomeVersao) +
            ". O pacote deve ter um nome de arquivo simples, sem pasta.");
    }
}

void ValidatePackageLink(const std::string& linkSistema) {
    for (const char c : linkSistema) {
        if (IsControl(c)) {
            throw platform::Exception(
                "Endereço inválido em link_sistema: " + QuotedForMessage(linkSistema) +
                ". O endereço do pacote não pode conter caracteres de controle.");
        }
    }
    // The download speaks HTTP only: another scheme would be asked for as plain HTTP at
    // that scheme's port.
    const auto sep = linkSistema.find("://");
    if (sep != std::string::npos) {
        std::string scheme = linkSistema.substr(0, sep);
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (scheme != "http" && scheme != "https") {
            throw platform::Exception(
                "Endereço inválido em link_sistema: " + QuotedForMessage(linkSistema) +
                ". O pacote é baixado somente por http:// ou https://.");
        }
    }
}

}  // namespace agent
