// An INI file held in memory: read whole when created, changed in memory, written whole
// by UpdateFile. Sections keep the order in which they were first read or added; each
// keeps its lines in order. Section and key names match without regard to ASCII case.
#pragma once

#include <string>
#include <vector>

namespace support {

enum class IniEncoding {
    Ansi,     // the system's 8-bit code page, no byte-order mark
    Utf8,     // with the UTF-8 byte-order mark
    Utf16LE,  // with the UTF-16 (little endian) byte-order mark
};

class TMemIniFile {
  public:
    // Reads the file when it exists (its encoding recognised from a byte-order mark,
    // else the ANSI code page); an existing file that cannot be read raises EFOpenError.
    explicit TMemIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }
    IniEncoding Encoding = IniEncoding::Ansi;

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // Replaces the key's line in place, or appends it (and the section) at the end.
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value);
    bool SectionExists(const std::string& section) const;
    void DeleteKey(const std::string& section, const std::string& ident);
    void EraseSection(const std::string& section);

    // The file's text (UTF-8): "[section]", its lines, an empty line, each line ended by
    // CR LF.
    std::string Text() const;
    // Replaces the contents by the parsed text (UTF-8).
    void SetText(const std::string& text);

    // Writes the whole file in Encoding. The bytes go to a temporary file in the same
    // folder, which then replaces the file in one step, so a failure never leaves a
    // truncated file behind. Failures raise EFCreateError ("Cannot create file "%s". %s").
    void UpdateFile() const;

    // The file's bytes in the given encoding, and the text of such bytes.
    static std::string Encode(const std::string& text, IniEncoding encoding);
    static std::string Decode(const std::string& bytes, IniEncoding* encoding = nullptr);

  private:
    struct Line {
        bool isValue = false;
        std::string name;   // the key, for a value line
        std::string value;  // the value, or the whole text of another line (a comment)
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    Section* FindSection(const std::string& name);
    const Section* FindSection(const std::string& name) const;

    std::string fileName_;
    std::vector<Line> preamble_;  // comment lines before the first section
    std::vector<Section> sections_;
};

}  // namespace support
