#include "display/terminal/canvas.h"

#include <cwchar>

#include "display/terminal/codec.h"

namespace compat {
namespace terminal {

Canvas::Canvas(int rows, int cols)
    : rows_(rows > 0 ? rows : 0),
      cols_(cols > 0 ? cols : 0),
      cells_(static_cast<size_t>(rows_) * static_cast<size_t>(cols_)) {}

void Canvas::clear_partner(int row, int col) {
    Cell &c = cell(row, col);
    if (c.right_half && col > 0) {
        cell(row, col - 1) = Cell{L' ', cell(row, col - 1).attr, false};
    } else if (!c.right_half && col + 1 < cols_ && cell(row, col + 1).right_half) {
        cell(row, col + 1) = Cell{L' ', cell(row, col + 1).attr, false};
    }
}

void Canvas::put(int row, int col, wchar_t ch, unsigned attr) {
    if (!inside(row, col)) return;
    if (wcwidth(ch) < 1) ch = L'?';
    const int width = cell_width(ch);
    if (width == 2 && !inside(row, col + 1)) return;
    clear_partner(row, col);
    if (width == 2) clear_partner(row, col + 1);
    cell(row, col) = Cell{ch, attr, false};
    if (width == 2) cell(row, col + 1) = Cell{L' ', attr, true};
}

int Canvas::text(int row, int col, const std::wstring &text, unsigned attr, const Rect &clip) {
    if (row < clip.row || row >= clip.bottom()) return col;
    for (wchar_t ch : text) {
        if (wcwidth(ch) < 1) ch = L'?';
        const int width = cell_width(ch);
        if (col + width > clip.right() || col + width > cols_) break;
        if (col >= clip.col) put(row, col, ch, attr);
        col += width;
    }
    return col;
}

int Canvas::text(int row, int col, const std::wstring &t, unsigned attr) {
    return text(row, col, t, attr, Rect{0, 0, rows_, cols_});
}

void Canvas::fill(const Rect &r, wchar_t ch, unsigned attr) {
    for (int row = r.row; row < r.bottom(); ++row)
        for (int col = r.col; col < r.right(); ++col) put(row, col, ch, attr);
}

void Canvas::add_attr(const Rect &r, unsigned attr) {
    for (int row = r.row; row < r.bottom(); ++row)
        for (int col = r.col; col < r.right(); ++col)
            if (inside(row, col)) cell(row, col).attr |= attr;
}

void Canvas::frame(const Rect &r, bool double_line, unsigned attr) {
    if (r.rows < 2 || r.cols < 2) return;
    const wchar_t *g = double_line ? L"\x2554\x2557\x255A\x255D\x2550\x2551"   // ╔╗╚╝═║
                                   : L"\x250C\x2510\x2514\x2518\x2500\x2502";  // ┌┐└┘─│
    for (int col = r.col + 1; col < r.right() - 1; ++col) {
        put(r.row, col, g[4], attr);
        put(r.bottom() - 1, col, g[4], attr);
    }
    for (int row = r.row + 1; row < r.bottom() - 1; ++row) {
        put(row, r.col, g[5], attr);
        put(row, r.right() - 1, g[5], attr);
    }
    put(r.row, r.col, g[0], attr);
    put(r.row, r.right() - 1, g[1], attr);
    put(r.bottom() - 1, r.col, g[2], attr);
    put(r.bottom() - 1, r.right() - 1, g[3], attr);
}

std::wstring Canvas::row_text(int row) const {
    std::wstring out;
    if (row < 0 || row >= rows_) return out;
    for (int col = 0; col < cols_; ++col)
        if (!at(row, col).right_half) out += at(row, col).ch;
    return out;
}

}  // namespace terminal
}  // namespace compat
