#include "admin/PublishTool.h"

#include <exception>
#include <functional>
#include <map>

#include "admin/Commands.h"
#include "platform/exception.h"

namespace admin {

namespace {

constexpr const char* kUsage =
    "Uso: travik-publish COMANDO [opções] [--db HOST[:PORTA]] [--user USUÁRIO]\n"
    "\n"
    "  publish --system N [--client N] --version A.B.C.D --url URL --file ARQUIVO\n"
    "          [--name NOME] [--key PRIVADA.pem] [--no-check]\n"
    "      publica uma versão (o link é conferido contra o arquivo, salvo com --no-check)\n"
    "  list [--system N] [--client N] [--csv]\n"
    "      as versões publicadas, a mais nova primeiro\n"
    "  verify --id N [--public-key PUBLICA.pem]\n"
    "      faz com a versão o que um agente faria, sem instalar nada\n"
    "  withdraw --id N\n"
    "      retira uma versão publicada\n"
    "  fleet [--system N] [--client N] [--behind | --silent DIAS | --failures [--days D]]\n"
    "        [--csv]\n"
    "      o que as máquinas relatam em controle_versao; com --failures, as máquinas cuja\n"
    "      última atualização falhou (controle_resultado), a mais recente primeiro\n"
    "\n"
    "--db: o servidor do banco de atualização (padrão: o do agente); --user: padrão root.\n"
    "A senha vem de TRAVIK_ADMIN_PASSWORD ou é pedida no terminal; nunca como argumento.\n"
    "Guia: docs/ADMIN.md\n";

const std::vector<OptionSpec> kOptions = {
    {"db"},
    {"user"},
    {"system"},
    {"client"},
    {"version"},
    {"url"},
    {"file"},
    {"name"},
    {"key"},
    {"no-check", false},
    {"id"},
    {"public-key"},
    {"behind", false},
    {"silent"},
    {"csv", false},
    {"failures", false},
    {"days"},
    {"help", false},
};

using Command = std::function<int(const CommandLine&, AdminSession&)>;

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"publish", Publish},   {"list", List},   {"verify", Verify},
        {"withdraw", Withdraw}, {"fleet", Fleet},
    };
    return commands;
}

int UsageFailure(const std::string& problem) {
    platform::console::Write(platform::console::Stream::Error,
                             "travik-publish: " + problem + "\n\n" + kUsage);
    return 2;
}

}  // namespace

int RunPublishTool(const std::vector<std::string>& args) {
    try {
        for (const auto& arg : args)
            if (arg == "--password" || arg.starts_with("--password=") || arg == "-p")
                throw UsageError(
                    "a senha nunca é um argumento: defina TRAVIK_ADMIN_PASSWORD ou "
                    "digite-a quando for pedida");
        const CommandLine line(args, kOptions);
        if (line.Has("help")) {
            Print(kUsage);
            return 0;
        }
        if (line.Words().empty()) throw UsageError("falta o comando");
        const auto command = Commands().find(line.Words().front());
        if (command == Commands().end())
            throw UsageError("comando desconhecido: " + line.Words().front());
        if (line.Words().size() > 1)
            throw UsageError("argumento a mais: \"" + line.Words()[1] +
                             "\" (as opções começam com --)");
        AdminSession session({line.Value("db").value_or(""), line.Value("user").value_or("root")});
        return command->second(line, session);
    } catch (const UsageError& error) {
        return UsageFailure(error.what());
    } catch (const std::exception& error) {
        platform::console::Write(platform::console::Stream::Error,
                                 std::string(error.what()) + "\n");
        return 1;
    }
}

}  // namespace admin
