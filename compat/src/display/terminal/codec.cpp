#include "display/terminal/codec.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <vector>

namespace compat {
namespace terminal {

namespace {

// Runs the whole input through cd; at a byte or character it cannot take,
// writes '?' (in the output's terms) and skips one input unit.
template <class In, class Out>
Out convert(iconv_t cd, const In &input, size_t unit, const Out &question) {
    Out out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.reserve(input.size());
        for (size_t i = 0; i < input.size(); i += unit) out += question;
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(reinterpret_cast<const char *>(input.data()));
    size_t in_left = input.size() * sizeof(typename In::value_type);
    std::vector<char> buffer(4096);
    while (in_left > 0) {
        char *o = buffer.data();
        size_t o_left = buffer.size();
        const size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(reinterpret_cast<const typename Out::value_type *>(buffer.data()),
                   (buffer.size() - o_left) / sizeof(typename Out::value_type));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (cut short at the end): one unit becomes '?'.
        out += question;
        const size_t skip = std::min(in_left, unit * sizeof(typename In::value_type));
        in += skip;
        in_left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace

TextCodec::TextCodec()
    : from_gbk_(iconv_open("WCHAR_T", "GBK")), to_gbk_(iconv_open("GBK", "WCHAR_T")) {}

TextCodec::~TextCodec() {
    if (from_gbk_ != reinterpret_cast<iconv_t>(-1)) iconv_close(from_gbk_);
    if (to_gbk_ != reinterpret_cast<iconv_t>(-1)) iconv_close(to_gbk_);
}

std::wstring TextCodec::from_gbk(const std::string &gbk) {
    return convert(from_gbk_, gbk, 1, std::wstring(L"?"));
}

std::string TextCodec::to_gbk(const std::wstring &text) {
    return convert(to_gbk_, text, 1, std::string("?"));
}

std::string to_utf8(const std::wstring &text) {
    std::string out;
    for (wchar_t wc : text) {
        unsigned long c = static_cast<unsigned long>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = '?';
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring from_utf8(const std::string &utf8) {
    std::wstring out;
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        unsigned long c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = n > 0 && i + n <= utf8.size();
        for (size_t k = 1; ok && k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(utf8[i + k]);
            ok = (t >> 6) == 2;
            c = (c << 6) | (t & 0x3F);
        }
        // Overlong forms and values outside Unicode are malformed too.
        static const unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            out += L'?';
            i += 1;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += n;
    }
    return out;
}

int cell_width(wchar_t c) {
    const int w = wcwidth(c);
    return w == 2 ? 2 : 1;
}

int text_width(const std::wstring &text) {
    int w = 0;
    for (wchar_t c : text) w += cell_width(c);
    return w;
}

std::string base64(const std::string &bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned long a = static_cast<unsigned char>(bytes[i]);
        const unsigned long b = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned long c = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        const unsigned long v = (a << 16) | (b << 8) | c;
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    }
    return out;
}

}  // namespace terminal
}  // namespace compat
