// A published version as the exchange reads it from the first row of a SELECT on
// versao: plain values, kept after the query and the connection are gone.
#pragma once

#include <optional>
#include <string>

namespace dbclient {
class TDbDataSet;
}

namespace agent {

// The columns the update run uses, each as its field's text. A column read later is one
// more member here and one more line in ReadPublishedVersion.
struct TPublishedVersion {
    std::string vl_versao;
    std::string nome_versao;
    std::string link_sistema;
    std::string md5_arquivo;
    // What the publisher's signature covers besides these, and the signature itself.
    long long id_sistema = 0;
    long long codigo_cliente = 0;
    std::string assinatura;  // empty when NULL or when the row lacks any of these columns
};

// The current row of an open SELECT on versao, or nothing when the result has no row.
// Reads link_sistema, md5_arquivo, nome_versao and vl_versao, in this order, then
// id_sistema, codigo_cliente and assinatura.
std::optional<TPublishedVersion> ReadPublishedVersion(const dbclient::TDbDataSet& query);

}  // namespace agent
