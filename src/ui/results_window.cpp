/* The results window: the sorted list that the worker fills, Close, Save to
 * file, and Copy from the context menu. */
#include <winsock2.h>
#include <windows.h>

#include "resource.h"
#include "run_state.h"
#include "ui/ui.h"

static void ShowContextMenu(HWND window, LPARAM lParam)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_RESULTS_MENU));
    int x = (short)LOWORD(lParam);
    int y = (short)HIWORD(lParam);

    TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, x, y, 0, window, NULL);
    DestroyMenu(menu);
}

/* Stops a worker that still runs (one that ended itself reports the same
 * code) before the input copy it reads is released and before the main
 * window can start another run. */
static void StopWorker(void)
{
    DWORD code = 0;

    if (!GetExitCodeThread(Run.worker, &code) || code != STILL_ACTIVE)
        return;
    TerminateThread(Run.worker, STILL_ACTIVE);
    if (Run.wildcardList != NULL) {
        GlobalFree(Run.wildcardList);
        Run.wildcardList = NULL;
    }
}

static void CloseResults(HWND window)
{
    StopWorker();
    if (Run.worker != NULL) {
        CloseHandle(Run.worker);
        Run.worker = NULL;
    }
    GlobalFree(Run.inputCopy);
    Run.inputCopy = NULL;
    EnableWindow(Run.mainWindow, TRUE);
    EndDialog(window, IDCANCEL);
    DestroyWindow(window);
    Run.resultsWindow = NULL;
}

static void OnResultsCommand(HWND window, WORD command)
{
    switch (command) {
    case IDCANCEL:
        CloseResults(window);
        break;
    case IDC_SAVE:
        SaveResults(window);
        break;
    case IDM_COPY:
        CopySelectedResults(window);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK ResultsDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CONTEXTMENU:
        ShowContextMenu(window, lParam);
        return TRUE;
    case WM_INITDIALOG:
        SetWindowIcons(window);
        return TRUE;
    case WM_COMMAND:
        OnResultsCommand(window, LOWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}
