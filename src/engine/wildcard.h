/* Wildcard lines: a dotted part that begins with '*' stands for 0 to 255. */
#ifndef QV_WILDCARD_H
#define QV_WILDCARD_H

#include "types.h"

/* Cuts the line into four fields and expands and checks its range. */
void SplitAddressFields(const char *line, HWND resultsWindow);
/* Checks every address of the range that the fields describe, in ascending
 * order; refuses (and ends the worker) when the range is too large. */
void ExpandWildcards(HWND resultsWindow, AddressFields fields);

#endif /* QV_WILDCARD_H */
