/* The variables of the one run that can exist at a time. The UI thread fills
 * them when a run starts and releases the run's memory when its results
 * window closes; the worker reads the input copy and records its wildcard
 * list while it holds one. */
#ifndef QV_RUN_STATE_H
#define QV_RUN_STATE_H

#include "types.h"

#define SAVE_PATH_SIZE 1000

typedef struct RunState {
    char *inputCopy;              /* text + 2 zero bytes, from GlobalAlloc */
    HWND mainWindow;
    HWND resultsWindow;
    HANDLE worker;
    WildcardEntry *wildcardList;  /* non-null exactly while the run holds one */
    int dbWarningShown;           /* the missing-database box was shown this run */
    char savePath[SAVE_PATH_SIZE];/* last path chosen in Save As, kept for the process */
} RunState;

extern RunState Run;

#endif /* QV_RUN_STATE_H */
