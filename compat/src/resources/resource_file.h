// The module's resources: a compiled .res file (as windres writes it) that
// the program carries inside itself, and readers of the resource kinds the
// layer loads: dialog templates, menus, icon groups and the version block.
//
// Texts in resources are UTF-16; the readers hand them out converted to the
// ANSI code page (936, GBK), as the A functions of Win32 do.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace compat::res {

enum : uint16_t {
    kTypeIcon = 3,
    kTypeMenu = 4,
    kTypeDialog = 5,
    kTypeGroupIcon = 14,
    kTypeVersion = 16,
    kTypeManifest = 24,
};

// A resource type or name: an ordinal or a string.
struct Id {
    bool is_ordinal = true;
    uint16_t ordinal = 0;
    std::u16string name;
};

struct Entry {
    Id type;
    Id name;
    uint16_t language = 0;
    const uint8_t *data = nullptr;
    size_t size = 0;
};

// Parses a whole .res image. Returns false (and leaves out what follows) on
// a malformed entry.
bool parse_res_file(const uint8_t *data, size_t size, std::vector<Entry> &entries);

// The resources of the running program, as registered by it at start-up.
const std::vector<Entry> &module_resources();

// Finds a resource of the module by type and by the LPCSTR name of a Win32
// call (MAKEINTRESOURCE ordinal or a string name). Null when absent.
const Entry *find_resource(uint16_t type, LPCSTR name);

// A sz_Or_Ord field of a template: absent, an ordinal, or a text.
struct TextOrOrdinal {
    bool present = false;
    bool is_ordinal = false;
    uint16_t ordinal = 0;
    std::string text;  // in the ANSI code page
};

struct DialogItem {
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    TextOrOrdinal window_class;  // ordinals 0x80-0x85: BUTTON, EDIT, STATIC, LISTBOX, SCROLLBAR, COMBOBOX
    TextOrOrdinal text;
    std::string class_name;      // the class as a name, ordinals resolved
};

struct DialogTemplate {
    bool extended = false;  // the DLGTEMPLATEEX form
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    TextOrOrdinal menu;
    TextOrOrdinal window_class;
    std::string title;
    WORD point_size = 0;
    std::string font;
    std::vector<DialogItem> items;
};

// Reads a classic dialog template. The extended form is recognised (and
// reported through `extended`) but not read further.
bool parse_dialog(const uint8_t *data, size_t size, DialogTemplate &out);

struct MenuItem {
    WORD flags = 0;  // MF_POPUP 0x10, MF_END 0x80, ...
    WORD id = 0;
    std::string text;
    std::vector<MenuItem> children;
};

// Reads a classic menu template into the items of its top level.
bool parse_menu(const uint8_t *data, size_t size, std::vector<MenuItem> &out);

struct FixedVersion {
    DWORD file_version_ms = 0, file_version_ls = 0;
    DWORD product_version_ms = 0, product_version_ls = 0;
    DWORD flags_mask = 0, flags = 0, os = 0, file_type = 0, file_subtype = 0;
    DWORD date_ms = 0, date_ls = 0;
    bool has_children = false;  // string or translation tables follow
};

bool parse_version(const uint8_t *data, size_t size, FixedVersion &out);

// UTF-16 (little-endian code units) to the ANSI code page; characters it
// cannot hold become '?'.
std::string utf16_to_ansi(const std::u16string &text);

}  // namespace compat::res
