/* The check run: the worker walks the input copy line by line; every single
 * address goes through the blacklist query and then CheckAddress, which
 * looks the address up and adds its line to the results list. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "blacklist/blacklist_query.h"
#include "engine/check_run.h"
#include "engine/gbk_text.h"
#include "engine/wildcard.h"
#include "locdb/location_db.h"
#include "run_state.h"

DWORD FailureCount;

static const char ListedFormat[] = "ip %s   在黑名单中   %s %s";
static const char NotListedFormat[] = "ip %s   不在黑名单   %s %s";
static const char WarningCaption[] = "警告";
static const char NoDatabaseText[] = "无法打开IP数据库文件qqwry.dat，归属地将显示为空";

/* Copies the line that starts at p into line (spaces dropped, at most
 * ADDRESS_LINE_MAX bytes kept) and returns the position of the LF or zero
 * byte that ended it. A line cut short never ends in half a character. */
static size_t GatherLine(const char *text, size_t p, char *line)
{
    size_t length = 0;
    int cut = 0;

    while (text[p] != '\n' && text[p] != '\0') {
        if (text[p] != ' ') {
            if (length < ADDRESS_LINE_MAX)
                line[length++] = text[p];
            else
                cut = 1;
        }
        p++;
    }
    line[length] = '\0';
    if (cut)
        TrimPartialGbk(line);
    return p;
}

static void CutTrailingCr(char *line)
{
    size_t length = strlen(line);

    if (length > 0 && line[length - 1] == '\r')
        line[length - 1] = '\0';
}

static void CheckSingleAddress(const char *line, HWND resultsWindow)
{
    char *reply = QueryBlacklist(line);

    CheckAddress(line, reply, resultsWindow);
}

DWORD WINAPI CheckWorker(LPVOID parameter)
{
    HWND resultsWindow = (HWND)parameter;
    const char *text = Run.inputCopy;
    char line[ADDRESS_LINE_MAX + 1];
    size_t p;

    Run.dbWarningShown = 0;
    if (text == NULL || text[0] == '\0')
        return 0;
    p = 0;
    for (;;) {
        p = GatherLine(text, p, line);
        CutTrailingCr(line);
        if (strchr(line, '*') != NULL)
            SplitAddressFields(line, resultsWindow);
        else
            CheckSingleAddress(line, resultsWindow);
        p++;
        if (text[p] == '\0')
            return 0;
    }
}

void EndWorkerNow(void)
{
    DWORD code = 0;

    GetExitCodeThread(GetCurrentThread(), &code);
    ExitThread(code);
}

/* The first failed query of the process costs only its line; every later
 * one ends the run, since the service is then taken to be unreachable. */
static void CountFailedQuery(void)
{
    FailureCount++;
    if (FailureCount < 2)
        return;
    EndWorkerNow();
}

/* Without the database every location is empty; say so once per run rather
 * than once per address. */
static void WarnIfNoLocationDb(void)
{
    if (LocationDbLoaded() || Run.dbWarningShown)
        return;
    Run.dbWarningShown = 1;
    MessageBoxA(NULL, NoDatabaseText, WarningCaption, MB_ICONERROR);
}

static void FormatResultLine(char *line, const char *address, char verdict,
                             const LocationResult *location)
{
    const char *format;

    if (verdict == 'y')
        format = ListedFormat;
    else if (verdict == 'n')
        format = NotListedFormat;
    else
        return;
    if (snprintf(line, RESULT_LINE_SIZE, format, address, location->country, location->area) >=
        RESULT_LINE_SIZE)
        TrimPartialGbk(line);
}

void CheckAddress(const char *address, const char *reply, HWND resultsWindow)
{
    char line[RESULT_LINE_SIZE];
    LocationResult location;

    memset(line, 0, sizeof line);
    memset(&location, 0, sizeof location);
    PrepareLocationDb();
    WarnIfNoLocationDb();
    LookupLocation(address, &location);
    if (reply == NULL) {
        CountFailedQuery();
        return;
    }
    FormatResultLine(line, address, reply[VERDICT_OFFSET], &location);
    if (resultsWindow != NULL)
        SendDlgItemMessageA(resultsWindow, RESULT_LIST_ID, LB_ADDSTRING, 0, (LPARAM)line);
}
