#include "display/terminal/painter.h"

#include <algorithm>

#include "display/display.h"

namespace compat {
namespace terminal {

namespace {

const wchar_t kThumb = L'\x2588';  // █

struct LineRange {
    size_t begin, end;  // the line's bytes, without its CR LF
};

std::vector<LineRange> split_lines(const std::string &t) {
    std::vector<LineRange> out;
    size_t begin = 0;
    for (;;) {
        const size_t lf = t.find('\n', begin);
        if (lf == std::string::npos) {
            out.push_back({begin, t.size()});
            return out;
        }
        const size_t end = lf > begin && t[lf - 1] == '\r' ? lf - 1 : lf;
        out.push_back({begin, end});
        begin = lf + 1;
    }
}

size_t line_of(const std::vector<LineRange> &lines, size_t offset) {
    size_t lo = 0, hi = lines.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (lines[mid].begin <= offset)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

size_t gbk_char_length(const std::string &t, size_t i, size_t end) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    return c >= 0x81 && c <= 0xFE && i + 1 < end ? 2 : 1;
}

// A scroll bar on the column col, rows rows from row: a thumb where the
// lines shown stand among all of them; nothing when all are shown.
void scroll_bar(Canvas &canvas, int row, int rows, int col, size_t first, size_t shown,
                size_t total, unsigned attr) {
    if (total <= shown || rows < 1) return;
    int thumb = static_cast<int>(static_cast<double>(rows) * shown / total);
    thumb = std::max(1, std::min(thumb, rows));
    const size_t last_first = total - shown;
    const int at = static_cast<int>(static_cast<double>(rows - thumb) *
                                    std::min(first, last_first) / last_first + 0.5);
    for (int r = 0; r < thumb; ++r) canvas.put(row + at + r, col, kThumb, attr);
}

bool is_default_button(const ControlView &c) {
    return c.kind == ControlKind::Button && (c.style & 0xF) == BS_DEFPUSHBUTTON;
}

void paint_button(Canvas &canvas, const ControlView &c, bool focused, bool default_shown) {
    const std::wstring label = focused ? L"[>" + c.text + L"<]" : L"[ " + c.text + L" ]";
    const int width = text_width(label);
    const int row = c.cells.row + (c.cells.rows - 1) / 2;
    const int col = c.cells.col + std::max(0, (c.cells.cols - width) / 2);
    unsigned attr = focused ? kReverse : default_shown ? kBold : kPlain;
    if (!c.enabled) attr = kDim;
    Rect clip = c.cells;
    clip.cols = std::max(clip.cols, width);
    canvas.text(row, col, label, attr, clip);
}

void paint_static(Canvas &canvas, const ControlView &c, const Rect &client) {
    // Label text may run past its own rect, up to the window's edge: cells
    // are coarser than the pixels the rect was made for.
    Rect clip{c.cells.row, c.cells.col, 1, client.right() - c.cells.col};
    const size_t cut = c.text.find_first_of(L"\r\n");
    canvas.text(c.cells.row, c.cells.col, c.text.substr(0, cut), c.enabled ? kPlain : kDim, clip);
}

void keep_caret_in_sight(EditScroll &s, size_t caret_line, int caret_col, int rows, int cols) {
    if (caret_line < s.top) s.top = caret_line;
    if (rows > 0 && caret_line >= s.top + static_cast<size_t>(rows)) s.top = caret_line - rows + 1;
    if (caret_col < s.left) s.left = caret_col;
    if (cols > 0 && caret_col >= s.left + cols) s.left = caret_col - cols + 1;
}

// One line of an edit from cell column left on, in the row's cells.
void paint_edit_line(Canvas &canvas, int row, const Rect &inner, const std::wstring &line,
                     int left, unsigned attr) {
    int at = 0;  // cell column in the line
    for (wchar_t ch : line) {
        const int w = cell_width(ch);
        if (at >= left) {
            const int col = inner.col + at - left;
            if (col + w > inner.right()) break;
            canvas.put(row, col, ch, attr);
        }
        at += w;
    }
}

void paint_edit(Canvas &canvas, const ControlView &c, bool focused, PaintState &state,
                TextCodec &codec) {
    std::string text;
    size_t caret = 0;
    if (!display::read_edit(c.hwnd, &text, &caret)) return;
    const bool border = (c.style & WS_BORDER) != 0;
    const Rect inner = inner_rect(c);
    const unsigned attr = c.enabled ? kPlain : kDim;
    if (border) canvas.frame(c.cells, focused, attr);
    // A field without a border shows its extent underlined.
    const unsigned field = border ? attr : attr | kUnderline;
    canvas.fill(inner, L' ', field);

    const std::vector<LineRange> lines = split_lines(text);
    const size_t caret_line = line_of(lines, caret);
    const LineRange &cl = lines[caret_line];
    const int caret_col = text_width(codec.from_gbk(text.substr(cl.begin, caret - cl.begin)));
    EditScroll &s = state.edits[c.hwnd];
    if (caret != s.caret || text.size() != s.length)
        keep_caret_in_sight(s, caret_line, caret_col, inner.rows, inner.cols);
    s.caret = caret;
    s.length = text.size();
    if (s.top >= lines.size()) s.top = lines.size() - 1;

    for (int r = 0; r < inner.rows && s.top + r < lines.size(); ++r) {
        const LineRange &l = lines[s.top + static_cast<size_t>(r)];
        paint_edit_line(canvas, inner.row + r, inner, codec.from_gbk(text.substr(l.begin, l.end - l.begin)),
                        s.left, field);
    }
    if (border && (c.style & WS_VSCROLL))
        scroll_bar(canvas, inner.row, inner.rows, c.cells.right() - 1, s.top,
                   static_cast<size_t>(inner.rows), lines.size(), attr);
    if (focused && caret_line >= s.top && caret_line < s.top + static_cast<size_t>(inner.rows) &&
        caret_col >= s.left && caret_col - s.left < inner.cols) {
        state.cursor_on = true;
        state.cursor_row = inner.row + static_cast<int>(caret_line - s.top);
        state.cursor_col = inner.col + caret_col - s.left;
    }
}

// The list's lines from its first line shown; the selection in reverse,
// the caret line of a focused list underlined; the scroll bar on the right
// edge and which lines show of how many on the bottom edge.
void paint_list(Canvas &canvas, const ControlView &c, bool focused, PaintState &state,
                TextCodec &codec) {
    const unsigned attr = c.enabled ? kPlain : kDim;
    const bool border = (c.style & WS_BORDER) != 0;
    const Rect inner = inner_rect(c);
    if (border) canvas.frame(c.cells, focused, attr);
    canvas.fill(inner, L' ', attr);
    state.list_pages[c.hwnd] = static_cast<size_t>(std::max(inner.rows, 1));
    display::ListView view;
    if (!display::read_list_view(c.hwnd, &view)) return;
    std::vector<display::ListLine> lines;
    size_t count = 0;
    display::read_list_box(c.hwnd, view.top, static_cast<size_t>(std::max(inner.rows, 0)), &lines,
                           &count);
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = inner.row + static_cast<int>(i);
        unsigned a = attr;
        if (lines[i].selected) a |= kReverse;
        if (focused && view.top + i == view.caret) a |= kUnderline;
        if (a != attr) canvas.fill(Rect{row, inner.col, 1, inner.cols}, L' ', a);
        canvas.text(row, inner.col, codec.from_gbk(lines[i].text), a, inner);
    }
    if (!border) return;
    scroll_bar(canvas, inner.row, inner.rows, c.cells.right() - 1, view.top,
               static_cast<size_t>(inner.rows), count, attr);
    if (count > 0) {
        const size_t last = std::min(count, view.top + static_cast<size_t>(inner.rows));
        const std::wstring where = L" " + std::to_wstring(view.top + 1) + L"-" +
                                   std::to_wstring(last) + L"/" + std::to_wstring(count) + L" ";
        const int col = c.cells.right() - 2 - text_width(where);
        if (col > c.cells.col) canvas.text(c.cells.bottom() - 1, col, where, attr);
    }
}

// The frame, the title bar on its top edge and the close box.
void paint_frame(Canvas &canvas, const WindowView &w, bool active) {
    canvas.fill(w.frame, L' ', kPlain);
    canvas.frame(w.frame, false, kPlain);
    if (w.kind == WindowKind::Menu) return;
    Rect bar{w.frame.row, w.frame.col + 1, 1, w.frame.cols - 2};
    if (w.has_close_box()) bar.cols -= 4;
    if (active) canvas.fill(bar, L' ', kReverse);
    canvas.text(bar.row, bar.col + 1, w.title, active ? kReverse | kBold : kBold, bar);
    if (w.has_close_box()) {
        const Rect box = close_box(w.frame);
        canvas.text(box.row, box.col, L"[X]", kPlain);
    }
}

HWND focus_in(const WindowView &w) {
    const HWND f = display::focus_of(w.thread_id);
    return w.control(f) ? f : nullptr;
}

void paint_dialog(Canvas &canvas, const WindowView &w, bool active, PaintState &state,
                  TextCodec &codec) {
    paint_frame(canvas, w, active);
    const Rect client{w.frame.row + 1, w.frame.col + 1, w.frame.rows - 2, w.frame.cols - 2};
    const HWND focus = active ? focus_in(w) : nullptr;
    const ControlView *fc = w.control(focus);
    const bool button_focused = fc && fc->kind == ControlKind::Button;
    for (const ControlView &c : w.controls) {
        const bool focused = c.hwnd == focus;
        switch (c.kind) {
        case ControlKind::Static: paint_static(canvas, c, client); break;
        case ControlKind::Button:
            paint_button(canvas, c, focused, active && !button_focused && is_default_button(c));
            break;
        case ControlKind::Edit: paint_edit(canvas, c, focused, state, codec); break;
        case ControlKind::List: paint_list(canvas, c, focused, state, codec); break;
        case ControlKind::Other: break;
        }
    }
    if (!w.enabled) canvas.add_attr(w.frame, kDim);
}

void paint_message_box(Canvas &canvas, const WindowView &w, bool active) {
    paint_frame(canvas, w, active);
    const Rect inner{w.frame.row + 1, w.frame.col + 1, w.frame.rows - 2, w.frame.cols - 2};
    for (size_t i = 0; i < w.text_lines.size(); ++i)
        canvas.text(w.text_row + static_cast<int>(i), w.text_col, w.text_lines[i], kPlain, inner);
    const HWND focus = active ? focus_in(w) : nullptr;
    for (const ControlView &c : w.controls) paint_button(canvas, c, c.hwnd == focus, false);
    if (!w.enabled) canvas.add_attr(w.frame, kDim);
}

void paint_menu(Canvas &canvas, const WindowView &w, size_t highlighted) {
    paint_frame(canvas, w, false);
    for (size_t i = 0; i < w.menu_texts.size(); ++i) {
        const Rect line{w.frame.row + 1 + static_cast<int>(i), w.frame.col + 1, 1, w.frame.cols - 2};
        const unsigned a = i == highlighted ? kReverse : kPlain;
        canvas.fill(line, L' ', a);
        canvas.text(line.row, line.col + 1, w.menu_texts[i], a, line);
    }
}

const wchar_t *hint_for(const Scene &scene, HWND active) {
    if (scene.open_menu()) return L" Up/Down: choose   Enter: take it   Esc: close the menu";
    const WindowView *a = scene.find(active);
    if (a && a->kind == WindowKind::MessageBox)
        return L" Enter: press   Tab/arrows: next button   Esc: cancel   F6: next window";
    return L" Tab: next   Enter: press   Esc: cancel/quit   Shift-F10: menu   F6: next window";
}

}  // namespace

Rect inner_rect(const ControlView &c) {
    if (!(c.style & WS_BORDER)) return c.cells;
    return Rect{c.cells.row + 1, c.cells.col + 1, c.cells.rows - 2, c.cells.cols - 2};
}

size_t edit_offset_at(const std::string &text, const EditScroll &scroll, int row, int col,
                      TextCodec &codec) {
    const std::vector<LineRange> lines = split_lines(text);
    if (row < 0) row = 0;
    const size_t line = scroll.top + static_cast<size_t>(row);
    if (line >= lines.size()) return text.size();
    const int target = scroll.left + std::max(col, 0);
    int at = 0;
    for (size_t i = lines[line].begin; i < lines[line].end;) {
        const size_t n = gbk_char_length(text, i, lines[line].end);
        at += text_width(codec.from_gbk(text.substr(i, n)));
        if (at > target) return i;
        i += n;
    }
    return lines[line].end;
}

void paint(const Scene &scene, PaintState &state, TextCodec &codec, Canvas &canvas) {
    state.cursor_on = false;
    state.list_pages.clear();
    if (scene.too_small) {
        const std::wstring say = L"Quorvane needs a terminal of at least 80 x 24 (this one is " +
                                 std::to_wstring(scene.cols) + L" x " +
                                 std::to_wstring(scene.rows) + L")";
        canvas.text(scene.rows / 2, 0, say, kBold);
        return;
    }
    for (const WindowView &w : scene.windows) {
        const bool active = w.hwnd == state.active;
        // A caret that a window in front covers does not show.
        if (state.cursor_on && w.frame.contains(state.cursor_row, state.cursor_col))
            state.cursor_on = false;
        switch (w.kind) {
        case WindowKind::Dialog: paint_dialog(canvas, w, active, state, codec); break;
        case WindowKind::MessageBox: paint_message_box(canvas, w, active); break;
        case WindowKind::Menu: paint_menu(canvas, w, state.menu_item); break;
        }
    }
    canvas.text(scene.rows - 1, 0, hint_for(scene, state.active), kDim);
}

}  // namespace terminal
}  // namespace compat
