// The package's file name as the update database gives it (nome_versao).
#pragma once

#include <string>

namespace agent {

// The name is joined to the agent's folder, so it must be a plain file name: not empty,
// not "." or "..", without a folder separator ("/" or "\"), drive colon or control
// character. Otherwise raises platform::Exception with a message that names nome_versao.
void ValidatePackageName(const std::string& nomeVersao);

}  // namespace agent
