// A small program for the automation back end's own tests: one window with
// a sorted list, two buttons and two labels that show what input reached
// the window, on the layer's start-up (QV_DISPLAY) like the real program.
//   button 1 "消息":   a message box owned by the window
//   button 2 "禁用":   disabled
//   label 20:         the position of the last WM_CONTEXTMENU, "x,y"
//   label 21:         every WM_CHAR byte that reached the window, in order
// The close box ends the program with exit code 7.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

WNDPROC original_proc;
std::string typed;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == 1)
            MessageBoxA(window, "探针 says \\hi\\", "提示", MB_OKCANCEL | MB_ICONINFORMATION);
        return 0;
    case WM_CONTEXTMENU: {
        char position[32];
        snprintf(position, sizeof position, "%d,%d", (short)LOWORD(lParam), (short)HIWORD(lParam));
        SetWindowTextA(GetDlgItem(window, 20), position);
        return 0;
    }
    case WM_CHAR:
        typed += static_cast<char>(wParam);
        SetWindowTextA(GetDlgItem(window, 21), typed.c_str());
        return 0;
    case WM_CLOSE:
        PostQuitMessage(7);
        return 0;
    default:
        return CallWindowProcA(original_proc, window, message, wParam, lParam);
    }
}

HWND Child(HWND parent, const char *cls, const char *text, DWORD style, int id) {
    return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                           (HMENU)(intptr_t)id, nullptr, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HWND window = CreateWindowExA(0, "Static", "探针 probe\\1", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                  0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    if (!window) return 1;
    original_proc = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)ProbeProc);
    HWND list = Child(window, "ListBox", "", LBS_SORT | LBS_EXTENDEDSEL, 10);
    const char *lines[] = {"ip 1.2.3.2", "ip 1.2.3.10", "", "中文 行"};
    for (const char *line : lines) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
    Child(window, "Button", "消息", 0, 1);
    Child(window, "Button", "禁用", WS_DISABLED, 2);
    Child(window, "Static", "", 0, 20);
    Child(window, "Static", "", 0, 21);
    ShowWindow(window, SW_SHOW);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    DestroyWindow(window);
    return static_cast<int>(msg.wParam);
}
