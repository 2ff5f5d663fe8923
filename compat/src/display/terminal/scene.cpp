#include "display/terminal/scene.h"

#include <compat_seams.h>
#include <strings.h>

#include <algorithm>

namespace compat {
namespace terminal {

namespace {

ControlKind kind_of(const std::string &cls) {
    if (strcasecmp(cls.c_str(), "Static") == 0) return ControlKind::Static;
    if (strcasecmp(cls.c_str(), "Button") == 0) return ControlKind::Button;
    if (strcasecmp(cls.c_str(), "Edit") == 0) return ControlKind::Edit;
    if (strcasecmp(cls.c_str(), "ListBox") == 0) return ControlKind::List;
    return ControlKind::Other;
}

// Button labels in the order the box made them, and its text.
void read_message_box(const display::WindowSnapshot &box, const Rect &area, TextCodec &codec,
                      WindowView *v) {
    std::wstring text;
    std::vector<std::wstring> labels;
    std::vector<ControlView> buttons;
    for (HWND h : box.children) {
        display::WindowSnapshot c;
        if (!display::snapshot(h, &c)) continue;
        if (c.id == COMPAT_MESSAGE_BOX_TEXT_ID) {
            text = codec.from_gbk(c.text);
            continue;
        }
        ControlView b;
        b.hwnd = h;
        b.kind = ControlKind::Button;
        b.id = c.id;
        b.style = c.style;
        b.text = codec.from_gbk(c.text);
        b.enabled = v->enabled && !(c.style & WS_DISABLED);
        labels.push_back(b.text);
        buttons.push_back(b);
    }
    const UINT icon = v->box_style & MB_ICONMASK;
    const wchar_t *mark = icon == MB_ICONERROR || icon == MB_ICONWARNING ? L"(!) "
                          : icon == MB_ICONINFORMATION                 ? L"(i) "
                          : icon == MB_ICONQUESTION                    ? L"(?) "
                                                                       : L"";
    MessageBoxGeometry g = place_message_box(v->title, mark + text, labels, area);
    v->frame = g.frame;
    v->text_lines = g.lines;
    v->text_row = g.text_row;
    v->text_col = g.text_col;
    for (size_t i = 0; i < buttons.size() && i < g.buttons.size(); ++i) buttons[i].cells = g.buttons[i];
    v->controls = buttons;
}

void read_dialog(const display::WindowSnapshot &dlg, const Rect &area, TextCodec &codec,
                 WindowView *v) {
    const DialogGeometry g = place_dialog(dlg.rect.right - dlg.rect.left,
                                          dlg.rect.bottom - dlg.rect.top, area);
    v->frame = g.frame;
    for (HWND h : dlg.children) {
        display::WindowSnapshot c;
        if (!display::snapshot(h, &c) || !(c.style & WS_VISIBLE)) continue;
        ControlView cv;
        cv.hwnd = h;
        cv.kind = kind_of(c.class_name);
        cv.id = c.id;
        cv.style = c.style;
        cv.text = codec.from_gbk(c.text);
        cv.cells = place_control(g, c.rect);
        cv.enabled = v->enabled && !(c.style & WS_DISABLED);
        v->controls.push_back(cv);
    }
}

// Where the keyboard is in a window: the focused control's caret line for
// a list, else just inside the control's top left corner.
bool keyboard_point(const Scene &scene, HWND owner, int *row, int *col) {
    const WindowView *w = scene.find(owner);
    if (!w) return false;
    const ControlView *c = w->control(display::focus_of(w->thread_id));
    if (!c) {
        *row = w->frame.row + 1;
        *col = w->frame.col + 2;
        return true;
    }
    *row = c->cells.row + 1;
    *col = c->cells.col + 2;
    display::ListView view;
    if (c->kind == ControlKind::List && display::read_list_view(c->hwnd, &view) &&
        view.caret >= view.top)
        *row = c->cells.row + 2 + static_cast<int>(std::min<size_t>(view.caret - view.top,
                                                                    c->cells.rows - 2));
    return true;
}

void read_menu_window(const Scene &scene, const display::WindowSnapshot &snap, const Rect &area,
                      TextCodec &codec, WindowView *v) {
    for (const display::MenuLine &l : v->menu) {
        std::wstring t = codec.from_gbk(l.text);
        for (wchar_t &c : t)
            if (c == L'&') c = 0;  // the mnemonic marks are not shown
        std::wstring shown;
        for (wchar_t c : t)
            if (c) shown += c;
        if (l.popup) shown += L" >";
        v->menu_texts.push_back(shown);
    }
    int row = snap.rect.top, col = snap.rect.left;
    if (row == -1 && col == -1 && !keyboard_point(scene, snap.owner, &row, &col)) row = col = 0;
    v->frame = place_menu(row, col, v->menu_texts, area);
}

}  // namespace

const ControlView *WindowView::control(HWND h) const {
    if (!h) return nullptr;
    for (const ControlView &c : controls)
        if (c.hwnd == h) return &c;
    return nullptr;
}

const ControlView *WindowView::control_at(int row, int col) const {
    for (auto it = controls.rbegin(); it != controls.rend(); ++it)
        if (it->cells.contains(row, col)) return &*it;
    return nullptr;
}

const WindowView *Scene::find(HWND h) const {
    for (const WindowView &w : windows)
        if (w.hwnd == h) return &w;
    return nullptr;
}

const WindowView *Scene::window_at(int row, int col) const {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (it->frame.contains(row, col)) return &*it;
    return nullptr;
}

const WindowView *Scene::open_menu() const {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (it->kind == WindowKind::Menu) return &*it;
    return nullptr;
}

const WindowView *Scene::window_of(HWND h) const {
    for (const WindowView &w : windows)
        if (w.hwnd == h || w.control(h)) return &w;
    return nullptr;
}

// Dialogs in the order they were made, then message boxes, which show on
// top of everything, then the open menu.
Scene build_scene(int rows, int cols, TextCodec &codec) {
    Scene scene;
    scene.rows = rows;
    scene.cols = cols;
    scene.too_small = screen_too_small(rows, cols);
    if (scene.too_small) return scene;
    const Rect area = window_area(rows, cols);
    std::vector<WindowView> dialogs, boxes, menus;
    std::vector<display::WindowSnapshot> menu_snaps;
    for (HWND h : display::windows_under(nullptr)) {
        display::WindowSnapshot s;
        if (!display::snapshot(h, &s) || !(s.style & WS_VISIBLE)) continue;
        WindowView v;
        v.hwnd = h;
        v.thread_id = s.thread_id;
        v.style = s.style;
        v.owner = s.owner;
        v.title = codec.from_gbk(s.text);
        v.enabled = !(s.style & WS_DISABLED);
        if (s.class_name == "#32768" && display::read_menu(h, &v.menu)) {
            v.kind = WindowKind::Menu;
            menus.push_back(v);
            menu_snaps.push_back(s);
            continue;
        }
        v.box_style = CompatGetMessageBoxStyle(h);
        if (v.box_style != COMPAT_NO_MESSAGE_BOX) {
            v.kind = WindowKind::MessageBox;
            read_message_box(s, area, codec, &v);
            boxes.push_back(v);
            continue;
        }
        // A window this display cannot show, or a message box caught
        // between showing and being complete.
        if (s.class_name != "#32770" || s.rect.right <= s.rect.left) continue;
        read_dialog(s, area, codec, &v);
        dialogs.push_back(v);
    }
    scene.windows = dialogs;
    scene.windows.insert(scene.windows.end(), boxes.begin(), boxes.end());
    for (size_t i = 0; i < menus.size(); ++i) {
        read_menu_window(scene, menu_snaps[i], area, codec, &menus[i]);
        scene.windows.push_back(menus[i]);
    }
    return scene;
}

}  // namespace terminal
}  // namespace compat
