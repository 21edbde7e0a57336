// The INI text: the bytes of a file decoded by their byte-order mark and encoded back,
// the text parsed and written again, and a value written by the store read back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "support/IniFile.h"

using support::IniEncoding;
using support::TMemIniFile;

namespace {

std::string WithoutLineBreaks(std::string s) {
    std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
    return s;
}

std::string TrimmedRight(std::string s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.pop_back();
    return s;
}

std::string Trimmed(std::string s) {
    s = TrimmedRight(std::move(s));
    const auto first =
        std::find_if(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) > 32; });
    s.erase(s.begin(), first);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    std::string section = WithoutLineBreaks(choices.ConsumeRandomLengthString(64));
    std::string ident = WithoutLineBreaks(choices.ConsumeRandomLengthString(64));
    std::string value = TrimmedRight(WithoutLineBreaks(choices.ConsumeRandomLengthString(256)));
    const std::string bytes = choices.ConsumeRemainingBytesAsString();

    // Decoding and encoding again keep the text, in the encoding the file had.
    IniEncoding encoding = IniEncoding::Ansi;
    const std::string text = TMemIniFile::Decode(bytes, &encoding);
    FUZZ_CHECK(TMemIniFile::Decode(TMemIniFile::Encode(text, encoding)) == text);
    for (const auto other : {IniEncoding::Ansi, IniEncoding::Utf8, IniEncoding::Utf16LE}) {
        IniEncoding found = IniEncoding::Ansi;
        const std::string back = TMemIniFile::Decode(TMemIniFile::Encode(text, other), &found);
        if (other != IniEncoding::Ansi) FUZZ_CHECK(found == other);
        // UTF-16 cannot carry bytes that are not UTF-8: they become U+FFFD once, and then
        // stay as they are.
        if (other == IniEncoding::Utf16LE)
            FUZZ_CHECK(TMemIniFile::Decode(TMemIniFile::Encode(back, other)) == back);
        else if (found == other)
            FUZZ_CHECK(back == text);
    }

    // The written text reads back as the same store.
    TMemIniFile ini("/nonexistent/fuzz.ini");
    ini.SetText(text);
    const std::string written = ini.Text();
    FUZZ_CHECK(written.size() <= 3 * text.size() + 8);
    ini.SetText(written);
    FUZZ_CHECK(ini.Text() == written);

    // A key the store writes reads back with its value after a round through the text.
    // Names cannot hold "=" and line breaks, nor begin like a comment or a section.
    std::erase(ident, '=');
    ident = Trimmed(ident);
    if (ident.empty() || ident.front() == ';' || ident.front() == '[') ident.insert(0, "k");
    if (!section.empty() && section.find_first_of("]") != std::string::npos) section.clear();
    ini.WriteString(section, ident, value);
    FUZZ_CHECK(ini.ReadString(section, ident, "\x01") == value);
    ini.SetText(ini.Text());
    FUZZ_CHECK(ini.SectionExists(section));
    FUZZ_CHECK(ini.ReadString(section, ident, "\x01") == value);
    ini.DeleteKey(section, ident);
    FUZZ_CHECK(ini.ReadString(section, ident, "\x01") == "\x01");
    return 0;
}
