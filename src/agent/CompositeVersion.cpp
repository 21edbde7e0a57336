#include "agent/CompositeVersion.h"

#include "agent/MessageText.h"
#include "platform/exception.h"

namespace agent {

namespace {

bool AllDigits(const std::string& text) {
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string FourDigits(std::uint64_t part) {
    std::string digits = std::to_string(part);
    if (digits.size() >= 4) return digits.substr(0, 4);
    return std::string(4 - digits.size(), '0') + digits;
}

}  // namespace

std::string CompositeVersion(std::uint64_t major, std::uint64_t minor, std::uint64_t release,
                             std::uint64_t build) {
    return std::to_string(major) + FourDigits(minor) + FourDigits(release) + FourDigits(build);
}

void ValidateCurrentVersion(const std::string& vsVersaoAtual) {
    if (vsVersaoAtual.empty() || vsVersaoAtual.size() > 18 || !AllDigits(vsVersaoAtual)) {
        throw platform::Exception(
            "Versão atual inválida no argumento 1: " + QuotedForMessage(vsVersaoAtual) +
            ". Informe a versão instalada como número de 1 a 18 dígitos (2.1.0.15 é "
            "2000100000015).");
    }
}

void ValidatePublishedVersion(const std::string& vlVersao) {
    if (vlVersao.empty() || !AllDigits(vlVersao)) {
        throw platform::Exception("Versão inválida em vl_versao: " + QuotedForMessage(vlVersao) +
                                  ". A versão publicada deve ser um número.");
    }
}

}  // namespace agent
