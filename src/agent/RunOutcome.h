// The outcome of an update run that found a version, reported to controle_resultado so
// that the release manager sees which machines failed and why.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
class Application;
}

namespace agent {

struct TRunOutcome {
    std::int32_t codigo_cliente = 0;
    std::int32_t id_sistema = 0;
    std::string cpu;          // the machine identifier, as in controle_versao
    std::string versao_alvo;  // the composite number of the version tried last
    std::string nome_versao;
    std::string resultado;  // "ok" or "erro"
    std::string mensagem;   // the error box's text; empty for "ok"
};

// The message as stored: at most 1000 characters (whole UTF-8 characters).
std::string StoredOutcomeMessage(const std::string& mensagem);

// Sends the outcome with its own short login (the busy rule of the exchange, a 10 s
// time-out, shorter when TRAVIK_DB_TIMEOUT_MS is). Never raises and shows nothing: a
// report that cannot be made changes nothing for the person or for the run.
void ReportRunOutcome(platform::Application& app, const TRunOutcome& outcome) noexcept;

}  // namespace agent
