/* Types and process-wide values shared by the check engine, the location
 * database and the blacklist client. */
#ifndef QV_TYPES_H
#define QV_TYPES_H

#include <winsock2.h>
#include <windows.h>

/* An address as typed on a line of its own: at most 20 characters. */
#define ADDRESS_LINE_MAX 20
/* An address that the wildcard expansion builds: "%s.%s.%s.%s" of four fields. */
#define ADDRESS_TEXT_SIZE 24
/* One line of the results list and its terminating zero. */
#define RESULT_LINE_SIZE 100
#define REPLY_BUFFER_SIZE 2048
/* Byte of the service's reply that holds the verdict: 'y' listed, 'n' not. */
#define VERDICT_OFFSET 53

/* Control of the results window that holds the results list. */
#define RESULT_LIST_ID 1003

/* Where a location lies: both texts are GBK, zero-terminated, and point
 * into the database image (or at static literals); they are never freed. */
typedef struct LocationResult {
    const char *country;
    const char *area;
} LocationResult;

/* Four dotted parts of a wildcard line, three characters and a NUL each;
 * also the layout of one WildcardList entry. */
typedef struct AddressFields {
    char part[4][4];
} AddressFields;

typedef AddressFields WildcardEntry;

/* The last reply of the blacklist service, written from offset 0 by every
 * query. */
extern char ReplyBuffer[REPLY_BUFFER_SIZE];

/* Failed queries in the life of the process; never reset. */
extern DWORD FailureCount;

#endif /* QV_TYPES_H */
