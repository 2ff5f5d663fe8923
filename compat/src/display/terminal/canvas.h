// The picture of one frame: a grid of cells, each one character (or the
// right half of a wide one) with its attributes. Windows are painted into
// it back to front; a wide character is never cut in half, neither by the
// edge of the area it is written in nor by what is painted over it later.
#pragma once

#include <string>
#include <vector>

namespace compat {
namespace terminal {

enum Attr : unsigned {
    kPlain = 0,
    kReverse = 1,
    kBold = 2,
    kDim = 4,
    kUnderline = 8,
};

struct Rect {
    int row = 0, col = 0, rows = 0, cols = 0;
    int bottom() const { return row + rows; }  // one past the last row
    int right() const { return col + cols; }    // one past the last column
    bool contains(int r, int c) const { return r >= row && r < bottom() && c >= col && c < right(); }
    bool empty() const { return rows <= 0 || cols <= 0; }
};

struct Cell {
    wchar_t ch = L' ';
    unsigned attr = kPlain;
    bool right_half = false;  // the second cell of the wide character before it
};

class Canvas {
public:
    Canvas(int rows, int cols);
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    const Cell &at(int row, int col) const { return cells_[static_cast<size_t>(row * cols_ + col)]; }

    // Writes text from (row, col) on, within clip (and the canvas), and
    // returns the column after the last cell written. A wide character that
    // does not fit whole is left out, and the text stops there.
    int text(int row, int col, const std::wstring &text, unsigned attr, const Rect &clip);
    int text(int row, int col, const std::wstring &text, unsigned attr);
    void put(int row, int col, wchar_t ch, unsigned attr);
    void fill(const Rect &r, wchar_t ch, unsigned attr);
    // Adds attributes to every cell of r.
    void add_attr(const Rect &r, unsigned attr);
    // A frame on the edge of r, single or double lines.
    void frame(const Rect &r, bool double_line, unsigned attr);

    // One row as text (a wide character once), for tests and logs.
    std::wstring row_text(int row) const;

private:
    Cell &cell(int row, int col) { return cells_[static_cast<size_t>(row * cols_ + col)]; }
    bool inside(int row, int col) const { return row >= 0 && row < rows_ && col >= 0 && col < cols_; }
    // Before a cell is written: a wide character it is half of becomes a space.
    void clear_partner(int row, int col);

    int rows_, cols_;
    std::vector<Cell> cells_;
};

}  // namespace terminal
}  // namespace compat
