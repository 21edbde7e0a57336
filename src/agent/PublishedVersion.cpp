#include "agent/PublishedVersion.h"

#include "dbclient/DbDataSet.h"
#include "dbclient/DbFields.h"

namespace agent {

std::optional<TPublishedVersion> ReadPublishedVersion(const dbclient::TDbDataSet& query) {
    if (query.RecordCount() == 0) return std::nullopt;
    TPublishedVersion version;
    version.link_sistema = query.FieldByName("link_sistema").AsString();
    version.md5_arquivo = query.FieldByName("md5_arquivo").AsString();
    version.nome_versao = query.FieldByName("nome_versao").AsString();
    version.vl_versao = query.FieldByName("vl_versao").AsString();
    // Read only where they exist, so an agent without keys asks nothing more of the row
    // than before. A database made before signatures has no assinatura column: the same as
    // no signature; a row without the fields a signature covers cannot carry one either.
    const dbclient::TField* idSistema = query.FindField("id_sistema");
    const dbclient::TField* codigoCliente = query.FindField("codigo_cliente");
    const dbclient::TField* assinatura = query.FindField("assinatura");
    if (idSistema != nullptr && codigoCliente != nullptr && assinatura != nullptr) {
        version.id_sistema = idSistema->AsLargeInt();
        version.codigo_cliente = codigoCliente->AsLargeInt();
        version.assinatura = assinatura->AsString();
    }
    return version;
}

}  // namespace agent
