// The text form of the automation channel: every line is pure printable
// ASCII. Texts (window texts, class names, list lines) are the windows'
// 8-bit bytes with '\' written as "\\" and every byte outside 0x21..0x7E
// (the space included) as "\xHH", so a text never holds a space and fields
// split on single spaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compat {
namespace automation {

std::string escape_text(const std::string &bytes);

// False for an escape that is cut short or not one of the two forms, and
// for a character outside 0x21..0x7E.
bool unescape_text(const std::string &wire, std::string *bytes);

// Splits a line into its fields on single spaces. Two spaces in a row, or
// one at the end, make an empty field: the empty text.
std::vector<std::string> split_fields(const std::string &line);

// Window handles travel as hexadecimal with a 0x prefix ("0x0" for none).
std::string format_handle(uintptr_t handle);
bool parse_handle(const std::string &field, uintptr_t *handle);

// A decimal integer that fits in long long; no sign unless allow_negative.
bool parse_integer(const std::string &field, bool allow_negative, long long *value);

}  // namespace automation
}  // namespace compat
