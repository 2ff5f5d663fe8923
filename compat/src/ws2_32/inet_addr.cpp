// ws2_32 inet_addr: dotted IPv4 text to an address in network byte order.
//
// The text holds one to four parts separated by dots. Each part is decimal,
// octal when it starts with 0, or hexadecimal after 0x or 0X. The last part
// fills all bytes that the earlier parts leave: a.b.c.d, a.b.c (c is 16
// bits), a.b (b is 24 bits) and a (32 bits). A part too large for the bytes
// it fills rejects the text. Whitespace after the last part ends the text,
// and anything after it is ignored; any other trailing character rejects the
// text, as do an empty text, an empty part, a digit 8 or 9 in an octal part
// and more than four parts. A rejected text gives INADDR_NONE.
#include <winsock2.h>

#include <cstdint>

namespace {

bool IsDecimalDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The C locale's white space; bytes of 0x80 and above never are.
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads one part at *p. Returns false when no part starts there or its value
// does not fit 32 bits; on success *p is just past the part.
bool ReadPart(const unsigned char **p, uint32_t *value) {
    const unsigned char *s = *p;
    if (!IsDecimalDigit(*s)) return false;

    unsigned base = 10;
    if (*s == '0') {
        ++s;
        base = 8;
        if (*s == 'x' || *s == 'X') {
            ++s;
            base = 16;
        }
    }
    // "0" and "0x" alone are the value 0, as the BSD reader takes them.
    uint64_t v = 0;
    for (;; ++s) {
        int digit;
        if (base == 16) {
            digit = HexValue(*s);
        } else if (IsDecimalDigit(*s)) {
            digit = *s - '0';
            if (base == 8 && digit >= 8) return false;
        } else {
            digit = -1;
        }
        if (digit < 0) break;
        v = v * base + static_cast<unsigned>(digit);
        if (v > 0xffffffffu) return false;
    }
    *p = s;
    *value = static_cast<uint32_t>(v);
    return true;
}

// The common form, four decimal parts of one to three digits without a
// leading zero, read with few branches: part lengths vary from text to text,
// and a branch per digit would be mispredicted most of the time. Returns
// false for any other text, which the general reader then takes; it accepts
// nothing that reader would not accept with the same value.
bool ReadPlainDotted(const unsigned char *p, uint32_t *host) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned a = p[0] - '0';
        if (a > 9) return false;
        // p[1] exists since p[0] is a digit, and p[2] is read only after a
        // digit at p[1]; otherwise p[1] is read again.
        unsigned b = p[1] - '0';
        unsigned has_b = b <= 9;
        unsigned c = p[1 + has_b] - '0';
        unsigned has_c = has_b & (c <= 9);
        if (a == 0 && has_b) return false;  // octal
        unsigned part = has_c ? a * 100 + b * 10 + c : (has_b ? a * 10 + b : a);
        if (part > 255) return false;
        p += 1 + has_b + has_c;
        v = (v << 8) | part;
        if (i < 3) {
            if (*p != '.') return false;
            ++p;
        }
    }
    if (*p != '\0' && !IsSpace(*p)) return false;  // a fourth digit, say
    *host = v;
    return true;
}

}  // namespace

ULONG WINAPI inet_addr(const char *cp) {
    if (cp == nullptr) return INADDR_NONE;

    uint32_t plain;
    if (ReadPlainDotted(reinterpret_cast<const unsigned char *>(cp), &plain)) return htonl(plain);

    const unsigned char *p = reinterpret_cast<const unsigned char *>(cp);
    uint32_t parts[4];
    int count = 0;
    for (;;) {
        if (!ReadPart(&p, &parts[count])) return INADDR_NONE;
        ++count;
        if (*p != '.') break;
        if (count == 4) return INADDR_NONE;
        ++p;
    }
    if (*p != '\0' && !IsSpace(*p)) return INADDR_NONE;

    // Every part but the last is one byte; the last fills what remains.
    static const uint32_t kLastPartMax[4] = {0xffffffffu, 0xffffffu, 0xffffu, 0xffu};
    uint32_t host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xff) return INADDR_NONE;
        host |= parts[i] << (24 - 8 * i);
    }
    if (parts[count - 1] > kLastPartMax[count - 1]) return INADDR_NONE;
    host |= parts[count - 1];
    return htonl(host);
}
