#include "display/automation/wire_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace compat {
namespace automation {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string escape_text(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x21 && b <= 0x7E) {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 0xF];
        }
    }
    return out;
}

bool unescape_text(const std::string &wire, std::string *bytes) {
    std::string out;
    out.reserve(wire.size());
    for (size_t i = 0; i < wire.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(wire[i]);
        if (c < 0x21 || c > 0x7E) return false;
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        if (i + 1 >= wire.size()) return false;
        if (wire[i + 1] == '\\') {
            out += '\\';
            i += 1;
            continue;
        }
        if (wire[i + 1] != 'x' || i + 3 >= wire.size()) return false;
        const int hi = hex_value(wire[i + 2]);
        const int lo = hex_value(wire[i + 3]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>((hi << 4) | lo);
        i += 3;
    }
    *bytes = std::move(out);
    return true;
}

std::vector<std::string> split_fields(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t space = line.find(' ', start);
        if (space == std::string::npos) break;
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::string format_handle(uintptr_t handle) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(handle));
    return buffer;
}

bool parse_handle(const std::string &field, uintptr_t *handle) {
    if (field.size() < 3 || field[0] != '0' || (field[1] != 'x' && field[1] != 'X')) return false;
    uintptr_t value = 0;
    for (size_t i = 2; i < field.size(); ++i) {
        const int d = hex_value(field[i]);
        if (d < 0 || value > (UINTPTR_MAX >> 4)) return false;
        value = (value << 4) | static_cast<uintptr_t>(d);
    }
    *handle = value;
    return true;
}

bool parse_integer(const std::string &field, bool allow_negative, long long *value) {
    size_t i = 0;
    bool negative = false;
    if (allow_negative && !field.empty() && field[0] == '-') {
        negative = true;
        i = 1;
    }
    if (i >= field.size()) return false;
    unsigned long long magnitude = 0;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9') return false;
        const unsigned d = static_cast<unsigned>(field[i] - '0');
        if (magnitude > (static_cast<unsigned long long>(INT64_MAX) - d) / 10) return false;
        magnitude = magnitude * 10 + d;
    }
    *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

}  // namespace automation
}  // namespace compat
