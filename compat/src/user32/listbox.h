// The list box control: its lines, kept sorted or in arrival order, with a
// selection flag each.
//
// Lines live in blocks of at most kBlockMax entries, with a Fenwick tree
// over the block sizes: inserting a line moves at most one block's entries
// (pointers, never the text), and finding line i costs O(log blocks). Line
// text is copied into an arena that only LB_RESETCONTENT empties.
//
// The owner thread changes the lines (under the control's mutex) and reads
// them without it; other threads (display back ends) read under the mutex.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "user32/window.h"

namespace compat {

// The list box order: bytes compared as unsigned, ASCII letters folded to
// lower case, a shorter text before any longer one it begins. Returns <0,
// 0, >0.
int compare_list_text(const char *a, size_t a_len, const char *b, size_t b_len);

class LineStore {
public:
    struct Line {
        const char *text;  // in the arena, zero-terminated
        uint32_t length;
        bool selected;
    };

    size_t size() const { return size_; }
    // Puts the line after every line that does not sort after it.
    size_t insert_sorted(const char *text, size_t length);
    size_t append(const char *text, size_t length);
    Line &at(size_t index);
    const Line &at(size_t index) const;
    void clear();

    // Calls f(index, line) for every line in order until f returns false.
    template <class F>
    void for_each(F f) const {
        size_t index = 0;
        for (const Block &b : blocks_)
            for (const Line &line : b.lines)
                if (!f(index++, line)) return;
    }

private:
    static constexpr size_t kBlockMax = 512;
    static constexpr size_t kChunkSize = 64 * 1024;

    struct Block {
        std::vector<Line> lines;
    };

    Line make_line(const char *text, size_t length);
    size_t append(const Line &line);
    size_t insert_at(size_t block, size_t offset, const Line &line);
    size_t first_index_of(size_t block) const;
    void locate(size_t index, size_t *block, size_t *offset) const;
    void fenwick_add(size_t block, long delta);
    void rebuild_fenwick();

    std::vector<Block> blocks_;
    std::vector<long> fenwick_;  // 1-based sums of block sizes
    size_t size_ = 0;

    std::vector<std::unique_ptr<char[]>> chunks_;
    char *current_chunk_ = nullptr;
    size_t chunk_used_ = kChunkSize;
};

// The list box control. Besides its lines it keeps the view that a person
// moves with the keys, the mouse and the wheel: the caret line, the anchor
// that Shift extends the selection from, the first line shown and how many
// lines a page shows (a display back end says, with display::kListPage).
class ListBox final : public Control {
public:
    explicit ListBox(const CREATESTRUCTA &cs);
    LRESULT handle(Window &w, UINT msg, WPARAM wp, LPARAM lp) override;

    // For display back ends, from any thread.
    size_t count() const;
    void read(size_t first, size_t max_lines, std::vector<std::string> *texts,
              std::vector<bool> *selected, size_t *count) const;
    void view(size_t *count, size_t *top, size_t *caret) const;

private:
    enum class Extend { None, Range, Keep };

    LRESULT add_string(Window &w, const char *text);
    LRESULT set_selection(Window &w, bool select, LPARAM index);
    // Under mutex_.
    void select_only(size_t index);
    void select_range(size_t from, size_t to, bool keep_others);
    void set_line(size_t index, bool select);
    void scroll_to_caret();
    void clamp_top();
    // On the owner thread: the person's input.
    void move_caret(Window &w, long target, Extend how);
    void toggle_caret(Window &w);
    void key_down(Window &w, WPARAM vk);
    void click(Window &w, WPARAM flags, LPARAM pos);
    void wheel(Window &w, WPARAM wp);
    void set_page(Window &w, WPARAM lines);
    void tell_parent_selection(Window &w);

    const bool sorted_;
    const bool multi_;
    mutable std::mutex mutex_;  // held by the owner while it changes state
    LineStore lines_;
    size_t selected_count_ = 0;
    size_t top_index_ = 0;  // first line shown
    size_t caret_ = 0;
    size_t anchor_ = 0;
    size_t page_ = 1;       // lines shown at once
};

std::unique_ptr<Control> make_list_box(const CREATESTRUCTA &cs);

}  // namespace compat
