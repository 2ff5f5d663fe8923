// The list box control and the store of its lines.
#include "user32/listbox.h"

#include <algorithm>
#include <cstring>

#include "display/display.h"
#include "user32/dialog.h"
#include "user32/queue.h"

namespace compat {

// ---- order ----

int compare_list_text(const char *a, size_t a_len, const char *b, size_t b_len) {
    const size_t n = std::min(a_len, b_len);
    // Both texts agree up to i, so they agree on whether byte i is the
    // second byte of a double-byte GBK character; such a byte (which may
    // look like an ASCII letter) is compared as it is, never folded.
    bool second_byte = false;
    for (size_t i = 0; i < n; ++i) {
        unsigned ca = static_cast<unsigned char>(a[i]);
        unsigned cb = static_cast<unsigned char>(b[i]);
        if (second_byte) {
            second_byte = false;
        } else if (ca >= 0x81 && ca <= 0xFE) {
            second_byte = true;
        } else {
            if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
            if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a_len == b_len) return 0;
    return a_len < b_len ? -1 : 1;
}

// ---- the line store ----

LineStore::Line LineStore::make_line(const char *text, size_t length) {
    char *copy;
    if (length + 1 > kChunkSize) {
        chunks_.emplace_back(new char[length + 1]);
        copy = chunks_.back().get();
    } else {
        if (chunk_used_ + length + 1 > kChunkSize) {
            chunks_.emplace_back(new char[kChunkSize]);
            current_chunk_ = chunks_.back().get();
            chunk_used_ = 0;
        }
        copy = current_chunk_ + chunk_used_;
        chunk_used_ += length + 1;
    }
    memcpy(copy, text, length);
    copy[length] = '\0';
    return Line{copy, static_cast<uint32_t>(length), false};
}

void LineStore::fenwick_add(size_t block, long delta) {
    for (size_t i = block + 1; i < fenwick_.size(); i += i & (~i + 1)) fenwick_[i] += delta;
}

void LineStore::rebuild_fenwick() {
    fenwick_.assign(blocks_.size() + 1, 0);
    for (size_t i = 1; i < fenwick_.size(); ++i) {
        fenwick_[i] += static_cast<long>(blocks_[i - 1].lines.size());
        size_t up = i + (i & (~i + 1));
        if (up < fenwick_.size()) fenwick_[up] += fenwick_[i];
    }
}

size_t LineStore::first_index_of(size_t block) const {
    long sum = 0;
    for (size_t i = block; i > 0; i -= i & (~i + 1)) sum += fenwick_[i];
    return static_cast<size_t>(sum);
}

void LineStore::locate(size_t index, size_t *block, size_t *offset) const {
    const size_t n = blocks_.size();
    size_t step = 1;
    while (step * 2 <= n) step *= 2;
    size_t pos = 0;
    long rest = static_cast<long>(index);
    for (; step > 0; step /= 2) {
        if (pos + step <= n && fenwick_[pos + step] <= rest) {
            pos += step;
            rest -= fenwick_[pos];
        }
    }
    *block = pos;
    *offset = static_cast<size_t>(rest);
}

size_t LineStore::insert_at(size_t block, size_t offset, const Line &line) {
    const size_t index = first_index_of(block) + offset;
    std::vector<Line> &lines = blocks_[block].lines;
    lines.insert(lines.begin() + static_cast<long>(offset), line);
    ++size_;
    if (lines.size() <= kBlockMax) {
        fenwick_add(block, 1);
        return index;
    }
    Block second;
    second.lines.assign(lines.begin() + kBlockMax / 2, lines.end());
    lines.resize(kBlockMax / 2);
    blocks_.insert(blocks_.begin() + static_cast<long>(block) + 1, std::move(second));
    rebuild_fenwick();
    return index;
}

size_t LineStore::insert_sorted(const char *text, size_t length) {
    Line line = make_line(text, length);
    if (blocks_.empty()) return append(line);
    // The first block whose last line sorts after the new one; within it,
    // the first line that sorts after it.
    size_t lo = 0, hi = blocks_.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        const Line &last = blocks_[mid].lines.back();
        if (compare_list_text(text, length, last.text, last.length) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    if (lo == blocks_.size()) return insert_at(lo - 1, blocks_[lo - 1].lines.size(), line);
    const std::vector<Line> &lines = blocks_[lo].lines;
    auto it = std::upper_bound(lines.begin(), lines.end(), line, [](const Line &a, const Line &b) {
        return compare_list_text(a.text, a.length, b.text, b.length) < 0;
    });
    return insert_at(lo, static_cast<size_t>(it - lines.begin()), line);
}

size_t LineStore::append(const char *text, size_t length) {
    return append(make_line(text, length));
}

size_t LineStore::append(const Line &line) {
    if (blocks_.empty()) {
        blocks_.emplace_back();
        rebuild_fenwick();
    }
    const size_t last = blocks_.size() - 1;
    return insert_at(last, blocks_[last].lines.size(), line);
}

LineStore::Line &LineStore::at(size_t index) {
    size_t block, offset;
    locate(index, &block, &offset);
    return blocks_[block].lines[offset];
}

const LineStore::Line &LineStore::at(size_t index) const {
    size_t block, offset;
    locate(index, &block, &offset);
    return blocks_[block].lines[offset];
}

void LineStore::clear() {
    blocks_.clear();
    fenwick_.clear();
    size_ = 0;
    chunks_.clear();
    current_chunk_ = nullptr;
    chunk_used_ = kChunkSize;
}

// ---- the control ----

namespace {

constexpr UINT kLbnSelChange = 1;
constexpr size_t kWheelLines = 3;  // lines one notch of the wheel scrolls

}  // namespace

ListBox::ListBox(const CREATESTRUCTA &cs)
    : sorted_((cs.style & LBS_SORT) != 0),
      multi_((cs.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0),
      // A line is one character tall: eight dialog units.
      page_(cs.cy >= 16 ? static_cast<size_t>(cs.cy / 8) : 1) {}

std::unique_ptr<Control> make_list_box(const CREATESTRUCTA &cs) {
    return std::make_unique<ListBox>(cs);
}

LRESULT ListBox::add_string(Window &w, const char *text) {
    if (!text) return LB_ERR;
    const size_t length = strlen(text);
    size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool had_lines = lines_.size() > 0;
        index = sorted_ ? lines_.insert_sorted(text, length) : lines_.append(text, length);
        // The caret and the anchor stay on their lines.
        if (had_lines && index <= caret_) ++caret_;
        if (had_lines && index <= anchor_) ++anchor_;
    }
    display::changed(w.handle, display::Change::Content);
    return static_cast<LRESULT>(index);
}

void ListBox::set_line(size_t index, bool select) {
    LineStore::Line &line = lines_.at(index);
    if (line.selected == select) return;
    line.selected = select;
    selected_count_ += select ? 1 : static_cast<size_t>(-1);
}

void ListBox::select_only(size_t index) { select_range(index, index, false); }

// Selects the lines from..to (either order); keep_others false deselects
// every other line.
void ListBox::select_range(size_t from, size_t to, bool keep_others) {
    if (from > to) std::swap(from, to);
    if (!keep_others) {
        if (selected_count_ > 0) {
            for (size_t i = 0; i < lines_.size() && selected_count_ > 0; ++i)
                if (i < from || i > to) set_line(i, false);
        }
    }
    for (size_t i = from; i <= to && i < lines_.size(); ++i) set_line(i, true);
}

void ListBox::clamp_top() {
    const size_t n = lines_.size();
    const size_t last_top = n > page_ ? n - page_ : 0;
    if (top_index_ > last_top) top_index_ = last_top;
}

void ListBox::scroll_to_caret() {
    if (caret_ < top_index_) top_index_ = caret_;
    if (caret_ >= top_index_ + page_) top_index_ = caret_ - page_ + 1;
    clamp_top();
}

// Only a list with several selected lines has a selection apart from the
// caret; in a single-selection list the selection follows the caret.
void ListBox::move_caret(Window &w, long target, Extend how) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = lines_.size();
        if (n == 0) return;
        if (target < 0) target = 0;
        if (static_cast<size_t>(target) >= n) target = static_cast<long>(n - 1);
        caret_ = static_cast<size_t>(target);
        if (!multi_ || how == Extend::None) {
            anchor_ = caret_;
            if (multi_) select_only(caret_);
        } else if (how == Extend::Range) {
            select_range(anchor_, caret_, false);
        }
        scroll_to_caret();
    }
    display::changed(w.handle, display::Change::Content);
    if (how != Extend::Keep) tell_parent_selection(w);
}

void ListBox::toggle_caret(Window &w) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!multi_ || caret_ >= lines_.size()) return;
        set_line(caret_, !lines_.at(caret_).selected);
        anchor_ = caret_;
    }
    display::changed(w.handle, display::Change::Content);
    tell_parent_selection(w);
}

// Arrows, PageUp/PageDown, Home and End move the caret; with Shift the
// selection runs from the anchor to the caret, with Ctrl only the caret
// moves. Space toggles the caret line; Shift+Space selects up to it.
void ListBox::key_down(Window &w, WPARAM vk) {
    const Extend how = compat::key_down(kVkShift)     ? Extend::Range
                       : compat::key_down(kVkControl) ? Extend::Keep
                                                        : Extend::None;
    size_t caret, page, n;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        caret = caret_;
        page = page_;
        n = lines_.size();
    }
    const long c = static_cast<long>(caret);
    const long step = page > 1 ? static_cast<long>(page - 1) : 1;
    switch (vk) {
    case kVkUp: move_caret(w, c - 1, how); break;
    case kVkDown: move_caret(w, c + 1, how); break;
    case kVkPrior: move_caret(w, c - step, how); break;
    case kVkNext: move_caret(w, c + step, how); break;
    case kVkHome: move_caret(w, 0, how); break;
    case kVkEnd: move_caret(w, static_cast<long>(n) - 1, how); break;
    case kVkSpace:
        if (how == Extend::Range)
            move_caret(w, c, how);
        else
            toggle_caret(w);
        break;
    default: break;
    }
}

// A click on the line at row HIWORD(pos) of the view: alone it selects
// that line only, with Ctrl it toggles it, with Shift it selects from the
// anchor to it (keeping the others too when Ctrl is down as well).
void ListBox::click(Window &w, WPARAM flags, LPARAM pos) {
    if (!takes_input(w.handle)) return;
    SetFocus(w.handle);
    const long row = static_cast<short>(HIWORD(pos));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (row < 0 || static_cast<size_t>(row) >= page_) return;
        const size_t index = top_index_ + static_cast<size_t>(row);
        if (index >= lines_.size()) return;
        caret_ = index;
        if (!multi_) {
            anchor_ = index;
        } else if (flags & MK_SHIFT) {
            select_range(anchor_, index, (flags & MK_CONTROL) != 0);
        } else if (flags & MK_CONTROL) {
            set_line(index, !lines_.at(index).selected);
            anchor_ = index;
        } else {
            anchor_ = index;
            select_only(index);
        }
        scroll_to_caret();
    }
    display::changed(w.handle, display::Change::Content);
    tell_parent_selection(w);
}

void ListBox::wheel(Window &w, WPARAM wp) {
    const long notches = -static_cast<short>(HIWORD(wp)) / WHEEL_DELTA;
    if (notches == 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const long lines = notches * static_cast<long>(kWheelLines);
        const long top = static_cast<long>(top_index_) + lines;
        top_index_ = top < 0 ? 0 : static_cast<size_t>(top);
        clamp_top();
    }
    display::changed(w.handle, display::Change::Content);
}

void ListBox::set_page(Window &w, WPARAM lines) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page_ = lines > 0 ? static_cast<size_t>(lines) : 1;
        clamp_top();
    }
    display::changed(w.handle, display::Change::Content);
}

// LBS_NOTIFY: the parent hears of a selection the person changed.
void ListBox::tell_parent_selection(Window &w) {
    HWND parent;
    LONG_PTR id;
    DWORD style;
    {
        std::lock_guard<std::mutex> lock(window_mutex());
        parent = w.parent;
        id = w.id;
        style = w.style;
    }
    if (parent && (style & LBS_NOTIFY))
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), kLbnSelChange),
                     reinterpret_cast<LPARAM>(w.handle));
}

// Only lists that allow several selected lines take LB_SETSEL; index -1
// stands for every line.
LRESULT ListBox::set_selection(Window &w, bool select, LPARAM index) {
    if (!multi_) return LB_ERR;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index == -1) {
            for (size_t i = 0; i < lines_.size(); ++i) lines_.at(i).selected = select;
            selected_count_ = select ? lines_.size() : 0;
        } else {
            if (index < 0 || static_cast<size_t>(index) >= lines_.size()) return LB_ERR;
            set_line(static_cast<size_t>(index), select);
        }
    }
    display::changed(w.handle, display::Change::Content);
    return 0;
}

LRESULT ListBox::handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) {
    // Indices arrive as WPARAM; a negative int index becomes huge and fails
    // the range test, as LB_ERR requires.
    const size_t index = static_cast<size_t>(wp);
    switch (msg) {
    case LB_ADDSTRING:
        return add_string(w, reinterpret_cast<const char *>(lp));
    case LB_GETCOUNT:
        return static_cast<LRESULT>(lines_.size());
    case LB_GETTEXT: {
        // Win32 gives no buffer size: the caller provides room for the text
        // and its zero, as LB_GETTEXTLEN tells.
        if (index >= lines_.size() || !lp) return LB_ERR;
        const LineStore::Line &line = lines_.at(index);
        memcpy(reinterpret_cast<char *>(lp), line.text, line.length + 1);
        return static_cast<LRESULT>(line.length);
    }
    case LB_GETTEXTLEN:
        if (index >= lines_.size()) return LB_ERR;
        return static_cast<LRESULT>(lines_.at(index).length);
    case LB_SETSEL:
        return set_selection(w, wp != 0, lp);
    case LB_GETSEL:
        if (index >= lines_.size()) return LB_ERR;
        return lines_.at(index).selected ? 1 : 0;
    case LB_GETSELCOUNT:
        if (!multi_) return LB_ERR;
        return static_cast<LRESULT>(selected_count_);
    case LB_GETSELITEMS: {
        if (!multi_) return LB_ERR;
        int *out = reinterpret_cast<int *>(lp);
        const size_t max = static_cast<size_t>(static_cast<int>(wp) < 0 ? 0 : static_cast<int>(wp));
        if (!out && max > 0) return LB_ERR;
        size_t n = 0;
        if (max > 0 && selected_count_ > 0) {
            lines_.for_each([&](size_t i, const LineStore::Line &line) {
                if (line.selected) out[n++] = static_cast<int>(i);
                return n < max && n < selected_count_;
            });
        }
        return static_cast<LRESULT>(n);
    }
    case LB_RESETCONTENT:
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.clear();
            selected_count_ = 0;
            top_index_ = caret_ = anchor_ = 0;
        }
        display::changed(w.handle, display::Change::Content);
        return 0;
    case WM_KEYDOWN:
        if (takes_input(w.handle)) key_down(w, wp);
        return 0;
    case WM_LBUTTONDOWN:
        click(w, wp, lp);
        return 0;
    case WM_MOUSEWHEEL:
        wheel(w, wp);
        return 0;
    case display::kListPage:
        set_page(w, wp);
        return 0;
    default:
        return def_window_proc(w, msg, wp, lp);
    }
}

size_t ListBox::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

void ListBox::view(size_t *count, size_t *top, size_t *caret) const {
    std::lock_guard<std::mutex> lock(mutex_);
    *count = lines_.size();
    *top = top_index_;
    *caret = caret_;
}

void ListBox::read(size_t first, size_t max_lines, std::vector<std::string> *texts,
                   std::vector<bool> *selected, size_t *count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    *count = lines_.size();
    for (size_t i = first; i < lines_.size() && i - first < max_lines; ++i) {
        const LineStore::Line &line = lines_.at(i);
        texts->emplace_back(line.text, line.length);
        selected->push_back(line.selected);
    }
}

namespace display {

bool read_list_box(HWND hwnd, size_t first, size_t max_lines, std::vector<ListLine> *lines,
                   size_t *count) {
    auto w = find_window(hwnd);
    auto *box = w ? dynamic_cast<ListBox *>(w->control.get()) : nullptr;
    if (!box || !lines || !count) return false;
    std::vector<std::string> texts;
    std::vector<bool> selected;
    box->read(first, max_lines, &texts, &selected, count);
    lines->clear();
    for (size_t i = 0; i < texts.size(); ++i) lines->push_back(ListLine{texts[i], selected[i]});
    return true;
}

bool read_list_view(HWND hwnd, ListView *out) {
    auto w = find_window(hwnd);
    auto *box = w ? dynamic_cast<ListBox *>(w->control.get()) : nullptr;
    if (!box || !out) return false;
    box->view(&out->count, &out->top, &out->caret);
    return true;
}

}  // namespace display

}  // namespace compat
