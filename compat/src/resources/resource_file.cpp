#include "resources/resource_file.h"

#include <compat_seams.h>
#include <iconv.h>

#include <cstring>
#include <mutex>

namespace compat::res {

namespace {

// Little-endian reads that stay inside [data, data + size).
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t offset() const { return offset_; }
    void seek(size_t offset) {
        if (offset > size_) ok_ = false;
        else offset_ = offset;
    }
    void align4() { seek((offset_ + 3) & ~size_t(3)); }

    uint16_t u16() {
        if (offset_ + 2 > size_) return fail();
        uint16_t v = uint16_t(data_[offset_] | data_[offset_ + 1] << 8);
        offset_ += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t lo = u16();
        uint32_t hi = u16();
        return lo | hi << 16;
    }
    std::u16string text16() {
        std::u16string s;
        for (;;) {
            uint16_t c = u16();
            if (!ok_ || c == 0) return s;
            s.push_back(char16_t(c));
        }
    }
    Id id() {
        Id r;
        if (peek16() == 0xFFFF) {
            u16();
            r.ordinal = u16();
        } else {
            r.is_ordinal = false;
            r.name = text16();
        }
        return r;
    }
    TextOrOrdinal text_or_ordinal() {
        TextOrOrdinal r;
        uint16_t first = peek16();
        if (first == 0) {
            u16();
        } else if (first == 0xFFFF) {
            u16();
            r.present = r.is_ordinal = true;
            r.ordinal = u16();
        } else {
            r.present = true;
            r.text = utf16_to_ansi(text16());
        }
        return r;
    }

private:
    uint16_t peek16() {
        if (offset_ + 2 > size_) return fail();
        return uint16_t(data_[offset_] | data_[offset_ + 1] << 8);
    }
    uint16_t fail() {
        ok_ = false;
        offset_ = size_;
        return 0;
    }

    const uint8_t *data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

std::mutex module_mutex;
std::vector<Entry> &module_entries() {
    static auto *entries = new std::vector<Entry>();
    return *entries;
}

const char *ordinal_class_name(uint16_t ordinal) {
    switch (ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    default: return "";
    }
}

bool equal_name_ignoring_case(const std::u16string &a, const char *b) {
    size_t n = strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = char16_t(static_cast<unsigned char>(b[i]));
        if (x >= 'a' && x <= 'z') x = char16_t(x - 32);
        if (y >= 'a' && y <= 'z') y = char16_t(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool parse_menu_items(Reader &r, std::vector<MenuItem> &out, int depth) {
    if (depth > 16) return false;  // a template nested this deep is damaged
    for (;;) {
        MenuItem item;
        item.flags = r.u16();
        if (!(item.flags & 0x10)) item.id = r.u16();
        item.text = utf16_to_ansi(r.text16());
        if (!r.ok()) return false;
        if ((item.flags & 0x10) && !parse_menu_items(r, item.children, depth + 1)) return false;
        bool last = item.flags & 0x80;
        out.push_back(std::move(item));
        if (last) return true;
    }
}

}  // namespace

std::string utf16_to_ansi(const std::u16string &text) {
    std::string out;
    if (text.empty()) return out;
    iconv_t cd = iconv_open("CP936", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (char16_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
        return out;
    }
    std::string in;
    for (char16_t c : text) {
        in.push_back(char(c & 0xFF));
        in.push_back(char(c >> 8));
    }
    char *src = in.data();
    size_t src_left = in.size();
    std::string buffer(in.size() * 2 + 4, '\0');
    while (src_left > 0) {
        char *dst = buffer.data();
        size_t dst_left = buffer.size();
        size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        out.append(buffer.data(), buffer.size() - dst_left);
        if (r == size_t(-1) && src_left >= 2) {
            out.push_back('?');  // a character the code page lacks
            src += 2;
            src_left -= 2;
        } else if (r == size_t(-1)) {
            break;
        }
    }
    iconv_close(cd);
    return out;
}

bool parse_res_file(const uint8_t *data, size_t size, std::vector<Entry> &entries) {
    Reader r(data, size);
    while (r.offset() + 8 <= size) {
        size_t start = r.offset();
        uint32_t data_size = r.u32();
        uint32_t header_size = r.u32();
        Entry e;
        e.type = r.id();
        e.name = r.id();
        r.align4();
        r.u32();                // data version
        r.u16();                // memory flags
        e.language = r.u16();
        r.u32();                // version
        r.u32();                // characteristics
        if (!r.ok() || header_size < 8 || start + header_size > size ||
            data_size > size - start - header_size)
            return false;
        e.data = data + start + header_size;
        e.size = data_size;
        // The file opens with an empty entry that only marks the format.
        if (!(e.type.is_ordinal && e.type.ordinal == 0 && data_size == 0))
            entries.push_back(e);
        r.seek(start + header_size + data_size);
        r.align4();
        if (!r.ok()) break;
    }
    return true;
}

const std::vector<Entry> &module_resources() {
    std::lock_guard<std::mutex> lock(module_mutex);
    return module_entries();
}

const Entry *find_resource(uint16_t type, LPCSTR name) {
    for (const Entry &e : module_resources()) {
        if (!e.type.is_ordinal || e.type.ordinal != type) continue;
        if (IS_INTRESOURCE(name)) {
            if (e.name.is_ordinal && e.name.ordinal == uint16_t(reinterpret_cast<uintptr_t>(name)))
                return &e;
        } else if (!e.name.is_ordinal && equal_name_ignoring_case(e.name.name, name)) {
            return &e;
        }
    }
    return nullptr;
}

bool parse_dialog(const uint8_t *data, size_t size, DialogTemplate &out) {
    Reader r(data, size);
    if (size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF) {
        out.extended = true;
        return true;
    }
    out.style = r.u32();
    out.ex_style = r.u32();
    uint16_t count = r.u16();
    out.x = short(r.u16());
    out.y = short(r.u16());
    out.cx = short(r.u16());
    out.cy = short(r.u16());
    out.menu = r.text_or_ordinal();
    out.window_class = r.text_or_ordinal();
    out.title = utf16_to_ansi(r.text16());
    if (out.style & 0x40 /* DS_SETFONT */) {
        out.point_size = r.u16();
        out.font = utf16_to_ansi(r.text16());
    }
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        r.align4();
        DialogItem item;
        item.style = r.u32();
        item.ex_style = r.u32();
        item.x = short(r.u16());
        item.y = short(r.u16());
        item.cx = short(r.u16());
        item.cy = short(r.u16());
        item.id = r.u16();
        item.window_class = r.text_or_ordinal();
        item.class_name = item.window_class.is_ordinal ? ordinal_class_name(item.window_class.ordinal)
                                                       : item.window_class.text;
        item.text = r.text_or_ordinal();
        uint16_t extra = r.u16();
        r.seek(r.offset() + extra);
        if (r.ok()) out.items.push_back(std::move(item));
    }
    return r.ok();
}

bool parse_menu(const uint8_t *data, size_t size, std::vector<MenuItem> &out) {
    Reader r(data, size);
    uint16_t version = r.u16();
    uint16_t header = r.u16();
    if (!r.ok() || version != 0) return false;
    r.seek(r.offset() + header);
    return parse_menu_items(r, out, 0);
}

bool parse_version(const uint8_t *data, size_t size, FixedVersion &out) {
    Reader r(data, size);
    uint16_t length = r.u16();
    uint16_t value_length = r.u16();
    r.u16();  // type
    std::u16string key = r.text16();
    r.align4();
    if (!r.ok() || value_length < 52 || !equal_name_ignoring_case(key, "VS_VERSION_INFO"))
        return false;
    if (r.u32() != 0xFEEF04BDu) return false;
    r.u32();  // structure version
    out.file_version_ms = r.u32();
    out.file_version_ls = r.u32();
    out.product_version_ms = r.u32();
    out.product_version_ls = r.u32();
    out.flags_mask = r.u32();
    out.flags = r.u32();
    out.os = r.u32();
    out.file_type = r.u32();
    out.file_subtype = r.u32();
    out.date_ms = r.u32();
    out.date_ls = r.u32();
    r.align4();
    out.has_children = r.ok() && r.offset() < length;
    return r.ok();
}

}  // namespace compat::res

int CompatRegisterModuleResources(const unsigned char *data, size_t size) {
    std::vector<compat::res::Entry> entries;
    bool ok = compat::res::parse_res_file(data, size, entries);
    std::lock_guard<std::mutex> lock(compat::res::module_mutex);
    auto &module = compat::res::module_entries();
    module.insert(module.end(), entries.begin(), entries.end());
    return ok ? 1 : 0;
}
