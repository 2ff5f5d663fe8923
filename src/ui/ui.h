/* The two windows of the program. */
#ifndef QV_UI_H
#define QV_UI_H

#include <winsock2.h>
#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ResultsDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void StartCheck(HWND mainWindow);

/* Gives a window the program's small and big icons. */
void SetWindowIcons(HWND window);

/* Save to file and Copy of the results window. */
const char *ChooseSaveFile(HWND owner);
void SaveResults(HWND resultsWindow);
void CopySelectedResults(HWND resultsWindow);

/* Nonzero when the platform takes path as a full path to write to: on
 * Windows a drive path (third byte '\'), on POSIX an absolute local path. */
int IsSavablePath(const char *path);

#endif /* QV_UI_H */
