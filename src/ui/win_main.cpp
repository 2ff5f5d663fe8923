/* The program's entry point: the main window is a modal dialog with no owner;
 * when it ends, the location database is released and the exit code is 1. */
#include <winsock2.h>
#include <windows.h>

#include "locdb/location_db.h"
#include "resource.h"
#include "ui/ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDlgProc, 0);
    ReleaseLocationDb();
    return 1;
}
