/* The check run: walks the input copy line by line and turns every address
 * into one line of the results list. */
#ifndef QV_CHECK_RUN_H
#define QV_CHECK_RUN_H

#include "types.h"

/* The worker's thread procedure; its parameter is the results window (or null). */
DWORD WINAPI CheckWorker(LPVOID resultsWindow);

/* Looks up the address, reads the verdict from reply (null: the query failed)
 * and adds the result line to the results list. */
void CheckAddress(const char *address, const char *reply, HWND resultsWindow);

/* Ends the worker thread on the spot, with the exit code that the platform
 * reports for a running thread. */
void EndWorkerNow(void);

#endif /* QV_CHECK_RUN_H */
