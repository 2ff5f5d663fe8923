#include "display/terminal/layout.h"

#include <algorithm>
#include <cmath>

#include "display/terminal/codec.h"

namespace compat {
namespace terminal {

namespace {

int cells(double units, double scale) { return static_cast<int>(std::floor(units * scale + 0.5)); }

Rect centred(int rows, int cols, const Rect &area) {
    rows = std::min(rows, area.rows);
    cols = std::min(cols, area.cols);
    return Rect{area.row + (area.rows - rows) / 2, area.col + (area.cols - cols) / 2, rows, cols};
}

}  // namespace

bool screen_too_small(int rows, int cols) { return rows < kMinRows || cols < kMinCols; }

Rect window_area(int rows, int cols) { return Rect{0, 0, rows - 1, cols}; }

DialogGeometry place_dialog(int cx_du, int cy_du, const Rect &area) {
    DialogGeometry g;
    const double cx = std::max(cx_du, 1), cy = std::max(cy_du, 1);
    // The frame takes one row above (the title bar) and below, one column
    // each side.
    if (cells(cx, g.kx) + 2 > area.cols) g.kx = (area.cols - 2) / cx;
    if (cells(cy, g.ky) + 2 > area.rows) g.ky = (area.rows - 2) / cy;
    const int client_cols = std::max(cells(cx, g.kx), 1);
    const int client_rows = std::max(cells(cy, g.ky), 1);
    g.frame = centred(client_rows + 2, client_cols + 2, area);
    g.client = Rect{g.frame.row + 1, g.frame.col + 1, g.frame.rows - 2, g.frame.cols - 2};
    return g;
}

Rect place_control(const DialogGeometry &g, const RECT &du) {
    const int left = cells(du.left, g.kx), right = cells(du.right, g.kx);
    const int top = cells(du.top, g.ky), bottom = cells(du.bottom, g.ky);
    return Rect{g.client.row + top, g.client.col + left, std::max(bottom - top, 1),
                std::max(right - left, 1)};
}

Rect close_box(const Rect &frame) { return Rect{frame.row, frame.right() - 4, 1, 3}; }

int button_width(const std::wstring &label) { return text_width(label) + 4; }

std::vector<std::wstring> wrap_text(const std::wstring &text, int width) {
    std::vector<std::wstring> out;
    std::wstring line;
    int used = 0;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        if (c == L'\n') {
            out.push_back(line);
            line.clear();
            used = 0;
            continue;
        }
        const int w = cell_width(c);
        if (used + w > width && !line.empty()) {
            out.push_back(line);
            line.clear();
            used = 0;
        }
        line += c;
        used += w;
    }
    out.push_back(line);
    return out;
}

// Rows: the title bar, a blank row, the text, a blank row, the buttons and
// the bottom edge. The text keeps two columns from each side.
MessageBoxGeometry place_message_box(const std::wstring &caption, const std::wstring &text,
                                     const std::vector<std::wstring> &labels, const Rect &area) {
    MessageBoxGeometry g;
    int buttons = 0;
    for (const std::wstring &l : labels) buttons += button_width(l) + 2;
    const int max_text = std::max(area.cols - 8, 10);
    g.lines = wrap_text(text, max_text);
    int widest = 0;
    for (const std::wstring &l : g.lines) widest = std::max(widest, text_width(l));
    const int inner = std::max({widest + 4, buttons + 2, text_width(caption) + 10, 24});
    const int rows = static_cast<int>(g.lines.size()) + 5;
    g.frame = centred(rows, inner + 2, area);
    g.text_row = g.frame.row + 2;
    g.text_col = g.frame.col + 3;
    int col = g.frame.col + (g.frame.cols - (buttons - 2)) / 2;
    const int row = g.frame.bottom() - 2;
    for (const std::wstring &l : labels) {
        g.buttons.push_back(Rect{row, col, 1, button_width(l)});
        col += button_width(l) + 2;
    }
    return g;
}

Rect place_menu(int row, int col, const std::vector<std::wstring> &lines, const Rect &area) {
    int widest = 0;
    for (const std::wstring &l : lines) widest = std::max(widest, text_width(l));
    Rect r{row, col, static_cast<int>(lines.size()) + 2, widest + 4};
    r.rows = std::min(r.rows, area.rows);
    r.cols = std::min(r.cols, area.cols);
    if (r.bottom() > area.bottom()) r.row = area.bottom() - r.rows;
    if (r.right() > area.right()) r.col = area.right() - r.cols;
    r.row = std::max(r.row, area.row);
    r.col = std::max(r.col, area.col);
    return r;
}

}  // namespace terminal
}  // namespace compat
