/* The main window: the input box, Query and About. */
#include <winsock2.h>
#include <windows.h>

#include "engine/check_run.h"
#include "resource.h"
#include "run_state.h"
#include "ui/ui.h"

static const char AboutText[] = "Quorvane 1.2 由其开发者编写，保留所有权利。";
static const char AboutCaption[] = "版权信息";

void SetWindowIcons(HWND window)
{
    HINSTANCE module = GetModuleHandleA(NULL);

    SendMessageA(window, WM_SETICON, ICON_SMALL,
                 (LPARAM)LoadIconA(module, MAKEINTRESOURCEA(IDI_WINDOW_SMALL)));
    SendMessageA(window, WM_SETICON, ICON_BIG,
                 (LPARAM)LoadIconA(module, MAKEINTRESOURCEA(IDI_WINDOW_BIG)));
}

/* Copies the input box's text into a block with two zero bytes after it:
 * the worker reads one byte past the text's terminating zero. */
static char *CopyInputText(HWND mainWindow)
{
    int length = GetWindowTextLengthA(GetDlgItem(mainWindow, IDC_INPUT));
    char *copy;

    if (length <= 0)
        return NULL;
    copy = (char *)GlobalAlloc(GMEM_ZEROINIT, (SIZE_T)length + 2);
    if (copy == NULL)
        return NULL;
    GetDlgItemTextA(mainWindow, IDC_INPUT, copy, length + 1);
    return copy;
}

void StartCheck(HWND mainWindow)
{
    char *copy = CopyInputText(mainWindow);

    if (copy == NULL)
        return;
    Run.inputCopy = copy;
    EnableWindow(mainWindow, FALSE);
    Run.resultsWindow = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_RESULTS),
                                           mainWindow, ResultsDlgProc, 0);
    if (Run.resultsWindow == NULL) {
        /* Without a results window nothing could ever end the run and give
         * the main window back, so the run does not start. */
        Run.inputCopy = NULL;
        GlobalFree(copy);
        EnableWindow(mainWindow, TRUE);
        return;
    }
    ShowWindow(Run.resultsWindow, SW_SHOW);
    Run.worker = CreateThread(NULL, 0, CheckWorker, Run.resultsWindow, 0, NULL);
}

static void OnMainCommand(HWND window, WORD command)
{
    switch (command) {
    case IDCANCEL:
        EndDialog(window, IDCANCEL);
        break;
    case IDC_ABOUT:
        MessageBoxA(window, AboutText, AboutCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case IDC_QUERY:
        StartCheck(window);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    Run.mainWindow = window;
    switch (message) {
    case WM_INITDIALOG:
        SetWindowIcons(window);
        return TRUE;
    case WM_COMMAND:
        OnMainCommand(window, LOWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}
