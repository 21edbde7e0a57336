#include "support/IniFile.h"

#include <algorithm>

#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace support {

namespace {

namespace fs = platform::fs;

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LEBom[] = "\xFF\xFE";
constexpr char kUtf16BEBom[] = "\xFE\xFF";

bool SameName(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Without leading and trailing characters of code 32 or less.
std::string Trim(const std::string& s) {
    std::size_t first = 0, last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
    return s.substr(first, last - first);
}

std::string ReadWholeFile(const std::string& path) {
    fs::FileStream file(path, fs::OpenMode::Read, fs::ShareMode::DenyWrite);
    std::string bytes;
    char buffer[16384];
    for (std::size_t n; (n = file.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes;
}

std::u16string Utf16FromBytes(const std::string& bytes, std::size_t from, bool bigEndian) {
    std::u16string units;
    units.reserve((bytes.size() - from) / 2);
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[i + (bigEndian ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[i + (bigEndian ? 0 : 1)]);
        units += static_cast<char16_t>(lo | hi << 8);
    }
    return units;
}

// The system's reason at the end of a file error message ("... "path". reason").
std::string ReasonOf(const std::string& message) {
    const auto at = message.rfind("\". ");
    return at == std::string::npos ? message : message.substr(at + 3);
}

}  // namespace

TMemIniFile::TMemIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    if (fs::FileExists(fileName_)) SetText(Decode(ReadWholeFile(fileName_), &Encoding));
}

std::string TMemIniFile::Decode(const std::string& bytes, IniEncoding* encoding) {
    const auto startsWith = [&](const char* bom) { return bytes.rfind(bom, 0) == 0; };
    IniEncoding found = IniEncoding::Ansi;
    std::string text;
    if (startsWith(kUtf8Bom)) {
        found = IniEncoding::Utf8;
        text = bytes.substr(3);
    } else if (startsWith(kUtf16LEBom) || startsWith(kUtf16BEBom)) {
        found = IniEncoding::Utf16LE;
        text = platform::text::Utf16ToUtf8(Utf16FromBytes(bytes, 2, startsWith(kUtf16BEBom)));
    } else {
        text = platform::text::AnsiToUtf8(bytes);
    }
    if (encoding != nullptr) *encoding = found;
    return text;
}

std::string TMemIniFile::Encode(const std::string& text, IniEncoding encoding) {
    switch (encoding) {
        case IniEncoding::Utf8:
            return kUtf8Bom + text;
        case IniEncoding::Utf16LE: {
            std::string bytes = kUtf16LEBom;
            for (const char16_t unit : platform::text::Utf8ToUtf16(text)) {
                bytes += static_cast<char>(unit & 0xFF);
                bytes += static_cast<char>(unit >> 8);
            }
            return bytes;
        }
        case IniEncoding::Ansi:
            break;
    }
    // Line by line, so that a character the code page lacks is reported with its line.
    std::string bytes;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        bytes += platform::text::Utf8ToAnsi(text.substr(at, end - at));
        at = text.find_first_not_of("\r\n", end);
        if (at == std::string::npos) at = text.size();
        bytes.append(text, end, at - end);
    }
    return bytes;
}

void TMemIniFile::SetText(const std::string& text) {
    preamble_.clear();
    sections_.clear();
    std::vector<Line>* current = &preamble_;
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(at, end - at));
        at = end;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at < text.size() && text[at] == '\n') ++at;

        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            sections_.push_back(Section{line.substr(1, line.size() - 2), {}});
            current = &sections_.back().lines;
        } else if (const auto eq = line.find('='); eq != std::string::npos && line.front() != ';') {
            current->push_back(Line{true, Trim(line.substr(0, eq)), line.substr(eq + 1)});
        } else {
            current->push_back(Line{false, {}, line});  // comments and other lines stay as they are
        }
    }
}

std::string TMemIniFile::Text() const {
    std::string text;
    const auto append = [&](const std::vector<Line>& lines) {
        for (const Line& line : lines) {
            if (line.isValue) text += line.name + '=';
            text += line.value;
            text += "\r\n";
        }
    };
    if (!preamble_.empty()) {
        append(preamble_);
        text += "\r\n";
    }
    for (const Section& section : sections_) {
        text += '[' + section.name + "]\r\n";
        append(section.lines);
        text += "\r\n";
    }
    return text;
}

TMemIniFile::Section* TMemIniFile::FindSection(const std::string& name) {
    for (Section& section : sections_)
        if (SameName(section.name, name)) return &section;
    return nullptr;
}

const TMemIniFile::Section* TMemIniFile::FindSection(const std::string& name) const {
    for (const Section& section : sections_)
        if (SameName(section.name, name)) return &section;
    return nullptr;
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& defaultValue) const {
    if (const Section* s = FindSection(section))
        for (const Line& line : s->lines)
            if (line.isValue && SameName(line.name, ident)) return line.value;
    return defaultValue;
}

void TMemIniFile::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value) {
    Section* s = FindSection(section);
    if (s == nullptr) {
        sections_.push_back(Section{section, {}});
        s = &sections_.back();
    }
    for (Line& line : s->lines) {
        if (line.isValue && SameName(line.name, ident)) {
            line = Line{true, ident, value};
            return;
        }
    }
    s->lines.push_back(Line{true, ident, value});
}

bool TMemIniFile::SectionExists(const std::string& section) const {
    return FindSection(section) != nullptr;
}

void TMemIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    if (Section* s = FindSection(section))
        std::erase_if(s->lines,
                      [&](const Line& line) { return line.isValue && SameName(line.name, ident); });
}

void TMemIniFile::EraseSection(const std::string& section) {
    std::erase_if(sections_, [&](const Section& s) { return SameName(s.name, section); });
}

void TMemIniFile::UpdateFile() const {
    std::string bytes;
    try {
        bytes = Encode(Text(), Encoding);
    } catch (const platform::text::EAnsiConversionError& error) {
        // The file stays as it was rather than hold another character in its place.
        throw platform::EFCreateError("Cannot create file \"" + fileName_ + "\". " +
                                      error.Message());
    }
    const std::string temporary = fileName_ + ".tmp";
    const auto fail = [&](const std::string& reason) {
        fs::RemoveFile(temporary);
        throw platform::EFCreateError("Cannot create file \"" + fileName_ + "\". " + reason);
    };
    try {
        fs::FileStream file(temporary, fs::OpenMode::Create, fs::ShareMode::Exclusive);
        file.Write(bytes.data(), bytes.size());
        file.Flush();
    } catch (const platform::EFCreateError& error) {
        // Someone else's temporary file (a directory, or one in use) is left alone.
        throw platform::EFCreateError("Cannot create file \"" + fileName_ + "\". " +
                                      ReasonOf(error.Message()));
    } catch (const platform::Exception& error) {
        fail(ReasonOf(error.Message()));
    }
    if (!fs::RenameReplacing(temporary, fileName_)) fail(fs::LastErrorText());
}

}  // namespace support
