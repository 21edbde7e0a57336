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
    version.id_sistema = query.FieldByName("id_sistema").AsLargeInt();
    version.codigo_cliente = query.FieldByName("codigo_cliente").AsLargeInt();
    // A database made before signatures has no such column: the same as no signature.
    if (const dbclient::TField* assinatura = query.FindField("assinatura"))
        version.assinatura = assinatura->AsString();
    return version;
}

}  // namespace agent
