// The Windows public-key operations for the tests run from the POSIX host, which makes
// the keys and checks the results with the openssl tool. Each command prints one line per
// result and exits 0, or 1 when an operation failed.
//
//   travik-publickey encrypt PEM MESSAGE OUT        RSA-OAEP: "ok", or "error TEXT"
//   travik-publickey verify SPKI.der (DATA SIG)...  per pair "valid", "invalid" or
//                                                   "unavailable TEXT"
//   travik-publickey sign KEY.pem DATA OUT          "ok", or "error TEXT"
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/Sha256.h"
#include "platform/publickey.h"

namespace {

namespace publickey = platform::publickey;

std::string Read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int Written(const std::optional<std::string>& result, const std::string& error, const char* path) {
    if (!result) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    std::ofstream(path, std::ios::binary) << *result;
    std::printf("ok\n");
    return 0;
}

int Verify(int count, char** pairs, const std::string& spki) {
    int status = 0;
    for (int i = 0; i + 1 < count; i += 2) {
        std::string error;
        switch (publickey::VerifyEcdsaP256(spki, crypto::Sha256(Read(pairs[i])), Read(pairs[i + 1]),
                                           error)) {
            case publickey::Verdict::Valid:
                std::printf("valid\n");
                break;
            case publickey::Verdict::Invalid:
                std::printf("invalid\n");
                break;
            case publickey::Verdict::Unavailable:
                std::printf("unavailable %s\n", error.c_str());
                status = 1;
                break;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    std::string error;
    if (command == "encrypt" && argc == 5)
        return Written(publickey::RsaOaepEncrypt(Read(argv[2]), Read(argv[3]), error), error,
                       argv[4]);
    if (command == "verify" && argc >= 5 && argc % 2 == 1)
        return Verify(argc - 3, argv + 3, Read(argv[2]));
    if (command == "sign" && argc == 5)
        return Written(
            publickey::SignEcdsaP256(Read(argv[2]), crypto::Sha256(Read(argv[3])), error), error,
            argv[4]);
    std::fprintf(stderr,
                 "usage: travik-publickey encrypt PEM MESSAGE OUT | verify SPKI.der DATA SIG... | "
                 "sign KEY.pem DATA OUT\n");
    return 2;
}
