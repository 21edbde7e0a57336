// The package's file name (nome_versao) and link (link_sistema) as the update database
// gives them, checked before they are used.
#pragma once

#include <string>

namespace agent {

// The name is joined to the agent's folder, so it must be a plain file name: not empty,
// not "." or "..", without a folder separator ("/" or "\"), drive colon or control
// character; and not a file that the agent loads or runs from that folder (itself under
// its own or its running file name, its manifest, the TLS libraries, the system DLLs of
// the Windows agent), not a Windows device name (CON, NUL, COM1, ... with any extension),
// not ending in a dot or a blank, whatever the case and on every platform. Otherwise raises
// platform::Exception with a message that names nome_versao.
void ValidatePackageName(const std::string& nomeVersao,
                         const std::string& programFileName = std::string());

// The link goes into the request line of the HTTP request, so it must hold no control
// character (a line break would add header lines), and a scheme it names must be http or
// https. Otherwise raises platform::Exception with a message that names link_sistema.
void ValidatePackageLink(const std::string& linkSistema);

}  // namespace agent
