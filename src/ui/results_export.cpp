/* Taking results out of the list: Save to file and Copy. Both read the list
 * without taking messages in between, so each sees one state of it. */
#include <winsock2.h>
#include <windows.h>
#include <commdlg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "resource.h"
#include "run_state.h"
#include "ui/ui.h"

#define LINE_BUFFER_SIZE 100

static const char SaveFilter[] = "文本文件（*.txt）\0*.txt\0";
static const char TextExtension[] = ".txt";

const char *ChooseSaveFile(HWND owner)
{
    OPENFILENAMEA dialog;

    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = SaveFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = Run.savePath;
    dialog.nMaxFile = SAVE_PATH_SIZE;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    if (GetSaveFileNameA(&dialog))
        return Run.savePath;
    return "";
}

static int EndsWithTxt(const char *path)
{
    size_t length = strlen(path);

    return length >= 4 && memcmp(path + length - 4, TextExtension, 4) == 0;
}

/* Reads line i of the list whole: into buffer when it fits, otherwise into a
 * block from malloc that the caller frees. Null for a line that is gone. */
static char *ReadListLine(HWND list, int i, char *buffer)
{
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)i, 0);
    char *text = buffer;

    if (length < 0)
        return NULL;
    if (length >= LINE_BUFFER_SIZE) {
        text = (char *)malloc((size_t)length + 1);
        if (text == NULL)
            return NULL;
    }
    text[0] = '\0';
    SendMessageA(list, LB_GETTEXT, (WPARAM)i, (LPARAM)text);
    return text;
}

static void WriteListLines(HWND list, FILE *file)
{
    char buffer[LINE_BUFFER_SIZE];
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    int i;

    for (i = 0; i < count; i++) {
        char *line = ReadListLine(list, i, buffer);
        if (line == NULL)
            continue;
        /* CR LF written out, so the file is the same on every host. */
        fputs(line, file);
        fputs("\r\n", file);
        if (line != buffer)
            free(line);
    }
}

void SaveResults(HWND resultsWindow)
{
    char path[SAVE_PATH_SIZE];
    FILE *file;

    snprintf(path, sizeof path, "%s", ChooseSaveFile(resultsWindow));
    if (!EndsWithTxt(path)) {
        if (strlen(path) + sizeof TextExtension > sizeof path)
            return;
        strcat(path, TextExtension);
    }
    if (!IsSavablePath(path))
        return;
    file = fopen(path, "wb");
    if (file == NULL)
        return;
    WriteListLines(GetDlgItem(resultsWindow, IDC_RESULT_LIST), file);
    fclose(file);
}

/* The clipboard text: every selected line and its CR LF, then a zero byte.
 * The block is sized from the lines themselves, however long they are. */
static HGLOBAL BuildSelectionText(HWND list, const int *indices, int count)
{
    SIZE_T size = 0;
    SIZE_T used = 0;
    HGLOBAL block;
    char *text;
    int i;

    for (i = 0; i < count; i++) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)indices[i], 0);
        if (length >= 0)
            size += (SIZE_T)length + 2;
    }
    if (count > 0)
        size += 1;
    block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, size);
    if (block == NULL)
        return NULL;
    text = (char *)GlobalLock(block);
    for (i = 0; i < count && text != NULL; i++) {
        if (SendMessageA(list, LB_GETTEXTLEN, (WPARAM)indices[i], 0) < 0)
            continue;
        used += (SIZE_T)SendMessageA(list, LB_GETTEXT, (WPARAM)indices[i], (LPARAM)(text + used));
        memcpy(text + used, "\r\n", 2);
        used += 2;
    }
    GlobalUnlock(block);
    return block;
}

void CopySelectedResults(HWND resultsWindow)
{
    HWND list = GetDlgItem(resultsWindow, IDC_RESULT_LIST);
    int count = (int)SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    int *indices;
    HGLOBAL block;

    if (count < 0)
        count = 0;
    indices = (int *)GlobalAlloc(GMEM_ZEROINIT, (SIZE_T)count * sizeof(int));
    if (indices == NULL)
        return;
    count = (int)SendMessageA(list, LB_GETSELITEMS, (WPARAM)count, (LPARAM)indices);
    if (count < 0)
        count = 0;
    block = BuildSelectionText(list, indices, count);
    if (block != NULL) {
        OpenClipboard(resultsWindow);
        EmptyClipboard();
        /* A clipboard that does not take the block leaves it to us. */
        if (SetClipboardData(CF_TEXT, block) == NULL)
            GlobalFree(block);
        CloseClipboard();
    }
    GlobalFree(indices);
}
