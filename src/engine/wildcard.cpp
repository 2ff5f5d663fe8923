/* Wildcard lines. A dotted part that begins with '*' stands for every value
 * from 0 to 255; a line may have at most two such parts (65,536 addresses).
 * The whole range is written into one WildcardList before the first address
 * of it is checked. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "blacklist/blacklist_query.h"
#include "engine/check_run.h"
#include "engine/wildcard.h"
#include "run_state.h"

#define VALUES_PER_PART 256
/* Entries per wildcard part when sizing the list; always more than needed. */
#define CAPACITY_PER_PART 260ULL
/* The largest range the program will take on: 255 * 255 * 255 entries. */
#define LARGEST_CAPACITY 16581375ULL

static const char WarningCaption[] = "警告";
static const char TooManyText[] = "无法一次查询这么多IP";
static const char NoMemoryText[] = "内存不足，无法查询这个IP段";

/* The fields of the line being expanded; the worker alone uses them. */
static AddressFields SplitFields;

/* The last index of the line that each part may be stored from: the index
 * each part reaches when every part has at most three characters. */
static const int LastIndexOfPart[4] = {2, 6, 10, 14};

void SplitAddressFields(const char *line, HWND resultsWindow)
{
    int index;
    int part = 0;
    int position = 0;

    memset(&SplitFields, 0, sizeof SplitFields);
    for (index = 0; line[index] != '\0'; index++) {
        if (line[index] == '.') {
            part++;
            position = 0;
            continue;
        }
        if (part > 3 || index > LastIndexOfPart[part])
            continue;
        /* A field holds three characters and its NUL: the rest of a longer
         * part is dropped. */
        if (position < 3)
            SplitFields.part[part][position++] = line[index];
    }
    ExpandWildcards(resultsWindow, SplitFields);
}

static void RefuseRange(const char *text)
{
    MessageBoxA(NULL, text, WarningCaption, MB_ICONERROR);
    EndWorkerNow();
}

static unsigned long long RangeCapacity(int wildcardParts)
{
    unsigned long long capacity = CAPACITY_PER_PART;
    int i;

    for (i = 1; i < wildcardParts; i++)
        capacity *= CAPACITY_PER_PART;
    return capacity;
}

/* Writes the decimal text of value (0 to 255) into a 4-byte field. */
static void WriteValueText(char *field, int value)
{
    char digits[4];
    int length = 0;
    int i;

    do {
        digits[length++] = (char)('0' + value % 10);
        value /= 10;
    } while (value > 0);
    memset(field, 0, 4);
    for (i = 0; i < length; i++)
        field[i] = digits[length - 1 - i];
}

typedef struct Enumeration {
    WildcardEntry *list;
    DWORD count;
    const WildcardEntry *template_;
    int isWildcard[4];
    WildcardEntry current;
} Enumeration;

/* One loop per dotted field, the leftmost outermost. Each value a wildcard
 * field takes appends one entry: fields to its left hold their loops'
 * values, wildcard fields to its right still hold the template's '*'. */
static void EnumerateFrom(Enumeration *e, int part)
{
    int value;
    int right;

    if (part == 4)
        return;
    if (!e->isWildcard[part]) {
        EnumerateFrom(e, part + 1);
        return;
    }
    for (value = 0; value < VALUES_PER_PART; value++) {
        WriteValueText(e->current.part[part], value);
        for (right = part + 1; right < 4; right++)
            memcpy(e->current.part[right], e->template_->part[right], 4);
        e->list[e->count++] = e->current;
        EnumerateFrom(e, part + 1);
    }
}

static int HoldsWildcard(const WildcardEntry *entry)
{
    int part;

    for (part = 0; part < 4; part++)
        if (entry->part[part][0] == '*')
            return 1;
    return 0;
}

static void CheckEntries(const WildcardEntry *list, DWORD count, HWND resultsWindow)
{
    char address[ADDRESS_TEXT_SIZE];
    char *reply;
    DWORD i;

    for (i = 0; i < count; i++) {
        if (HoldsWildcard(&list[i]))
            continue;
        snprintf(address, sizeof address, "%s.%s.%s.%s", list[i].part[0], list[i].part[1],
                 list[i].part[2], list[i].part[3]);
        reply = QueryBlacklist(address);
        CheckAddress(address, reply, resultsWindow);
    }
}

void ExpandWildcards(HWND resultsWindow, AddressFields fields)
{
    Enumeration e;
    unsigned long long capacity;
    int wildcardParts = 0;
    int part;

    memset(&e, 0, sizeof e);
    for (part = 0; part < 4; part++) {
        e.isWildcard[part] = fields.part[part][0] == '*';
        wildcardParts += e.isWildcard[part];
    }
    capacity = RangeCapacity(wildcardParts);
    if (capacity > LARGEST_CAPACITY)
        RefuseRange(TooManyText);

    e.list = (WildcardEntry *)GlobalAlloc(GMEM_ZEROINIT, (SIZE_T)(capacity * sizeof(WildcardEntry)));
    if (e.list == NULL)
        RefuseRange(NoMemoryText);
    Run.wildcardList = e.list;

    e.template_ = &fields;
    e.list[e.count++] = fields;
    e.current = fields;
    EnumerateFrom(&e, 0);
    CheckEntries(e.list, e.count, resultsWindow);

    /* Forget the list before freeing it: a worker stopped in between then
     * leaves a leak, never a second free by the results window's Close. */
    Run.wildcardList = NULL;
    GlobalFree(e.list);
}
