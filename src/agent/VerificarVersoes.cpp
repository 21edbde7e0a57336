// The version registry exchange of the update run.
#include "agent/uTravikVersoes.h"

namespace agent {

// Not built yet: the run records nothing and finds no newer version.
void TfTravikVersoes::VerificarVersoes(const std::string& /*versaoAtual*/, const std::string& /*versaoExecutavel*/,
                                       int /*idSistema*/, int /*idEmpresa*/, const std::string& /*pasta*/) {}

}  // namespace agent
