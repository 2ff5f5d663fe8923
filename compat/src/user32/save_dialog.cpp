// GetSaveFileNameA: a modal "#32770" dialog with the name in an EDIT
// (id 1152) and Save / Cancel buttons. It checks the name against the
// caller's buffer and, when asked, confirms replacing an existing file.
#include <commdlg.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "user32/dialog.h"

namespace compat {

namespace {

constexpr WORD kNameEdit = 1152;
// The dialog's texts in the ANSI code page (GBK), which the layer's own
// sources are not compiled to.
const char kTitle[] = "\xC1\xED\xB4\xE6\xCE\xAA";                    // 另存为
const char kLabel[] = "\xCE\xC4\xBC\xFE\xC3\xFB\xA3\xBA";          // 文件名：
const char kSave[] = "\xB1\xA3\xB4\xE6";                               // 保存
const char kCancel[] = "\xC8\xA1\xCF\xFB";                             // 取消
const char kExists[] = " \xD2\xD1\xB4\xE6\xD4\xDA\xA1\xA3\n"         // 已存在。
                       "\xD2\xAA\xCC\xE6\xBB\xBB\xCB\xFC\xC2\xF0\xA3\xBF";  // 要替换它吗？
const char kConfirm[] = "\xC8\xB7\xC8\xCF\xC1\xED\xB4\xE6\xCE\xAA";  // 确认另存为
thread_local DWORD last_error = 0;

struct SaveRequest {
    OPENFILENAMEA *ofn;
    bool too_long = false;
};

bool file_exists(const std::string &name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

void fill_offsets(OPENFILENAMEA *ofn, const std::string &name) {
    size_t slash = name.find_last_of("/\\");
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.find_last_of('.');
    ofn->nFileOffset = static_cast<WORD>(base);
    ofn->nFileExtension =
        static_cast<WORD>(dot == std::string::npos || dot < base ? name.size() : dot + 1);
}

// OK pressed: true when the dialog ends.
bool accept(HWND dlg, SaveRequest *req) {
    int length = GetWindowTextLengthA(GetDlgItem(dlg, kNameEdit));
    std::string name(static_cast<size_t>(length) + 1, '\0');
    GetDlgItemTextA(dlg, kNameEdit, &name[0], length + 1);
    name.resize(strlen(name.c_str()));
    if (name.empty()) return false;
    OPENFILENAMEA *ofn = req->ofn;
    if (name.size() >= ofn->nMaxFile) {
        req->too_long = true;
        return true;
    }
    if ((ofn->Flags & OFN_OVERWRITEPROMPT) && file_exists(name)) {
        std::string ask = name + kExists;
        if (MessageBoxA(dlg, ask.c_str(), kConfirm, MB_YESNO | MB_ICONWARNING) != IDYES)
            return false;
    }
    memcpy(ofn->lpstrFile, name.c_str(), name.size() + 1);
    fill_offsets(ofn, name);
    return true;
}

INT_PTR CALLBACK save_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto *req = reinterpret_cast<SaveRequest *>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(dlg, GWLP_USERDATA, lp);
        return TRUE;
    }
    if (msg != WM_COMMAND || !req) return FALSE;
    if (LOWORD(wp) == IDOK && accept(dlg, req)) EndDialog(dlg, req->too_long ? IDABORT : IDOK);
    if (LOWORD(wp) == IDCANCEL) EndDialog(dlg, IDCANCEL);
    return TRUE;
}

res::DialogItem item(const char *cls, WORD id, const char *text, DWORD style, short x, short y,
                     short cx, short cy) {
    res::DialogItem i;
    i.class_name = cls;
    i.id = id;
    i.text.present = true;
    i.text.text = text;
    i.style = WS_VISIBLE | style;
    i.x = x;
    i.y = y;
    i.cx = cx;
    i.cy = cy;
    return i;
}

res::DialogTemplate save_template(const char *initial) {
    res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | WS_VISIBLE;
    t.title = kTitle;
    t.cx = 260;
    t.cy = 60;
    t.items.push_back(item("Static", 0xFFFF, kLabel, SS_LEFT, 6, 8, 40, 10));
    t.items.push_back(item("Edit", kNameEdit, initial, WS_TABSTOP | ES_AUTOHSCROLL, 50, 6, 200, 12));
    t.items.push_back(item("Button", IDOK, kSave, WS_TABSTOP | BS_DEFPUSHBUTTON, 140, 40, 50, 14));
    t.items.push_back(item("Button", IDCANCEL, kCancel, WS_TABSTOP, 200, 40, 50, 14));
    return t;
}

}  // namespace

}  // namespace compat

using namespace compat;

BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) {
    last_error = 0;
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) return FALSE;
    std::string initial(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    SaveRequest req{ofn};
    HWND owner = top_level_of(ofn->hwndOwner);
    bool disabled_owner = owner && IsWindowEnabled(owner);
    if (disabled_owner) EnableWindow(owner, FALSE);
    HWND dlg = create_dialog(save_template(initial.c_str()), ofn->hwndOwner, save_proc,
                             reinterpret_cast<LPARAM>(&req));
    INT_PTR result = dlg ? run_dialog(dlg) : IDCANCEL;
    if (disabled_owner) EnableWindow(owner, TRUE);
    if (dlg && IsWindow(dlg)) DestroyWindow(dlg);
    if (req.too_long) last_error = FNERR_BUFFERTOOSMALL;
    return result == IDOK ? TRUE : FALSE;
}

DWORD WINAPI CommDlgExtendedError(void) { return last_error; }
