// Text between the program's GBK and the terminal: wide characters for
// drawing (with their cell widths) and UTF-8 for what the terminal is sent
// or sends. Unconvertible bytes and characters become '?', so a text never
// loses its length on screen nor breaks what follows it.
#pragma once

#include <iconv.h>

#include <string>

namespace compat {
namespace terminal {

// One thread's converters (an iconv descriptor keeps state).
class TextCodec {
public:
    TextCodec();
    ~TextCodec();
    TextCodec(const TextCodec &) = delete;
    TextCodec &operator=(const TextCodec &) = delete;

    std::wstring from_gbk(const std::string &gbk);
    std::string to_gbk(const std::wstring &text);

private:
    iconv_t from_gbk_;
    iconv_t to_gbk_;
};

std::string to_utf8(const std::wstring &text);
// Decodes UTF-8; a malformed sequence gives one '?' per byte.
std::wstring from_utf8(const std::string &utf8);

// Cells a character takes on the terminal: 2 for wide (CJK) characters,
// 1 for others; a character that cannot be shown counts, and is drawn, as
// the one cell of a '?'.
int cell_width(wchar_t c);
int text_width(const std::wstring &text);

// The base64 of bytes (for OSC 52).
std::string base64(const std::string &bytes);

}  // namespace terminal
}  // namespace compat
