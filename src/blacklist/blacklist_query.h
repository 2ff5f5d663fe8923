/* The blacklist client: one HTTP request per address, over a new connection. */
#ifndef QV_BLACKLIST_QUERY_H
#define QV_BLACKLIST_QUERY_H

#include "types.h"

/* Sends the request for the address and returns the ReplyBuffer once the
 * server has closed the connection, or null when no connection was made
 * (after the user has dismissed the failure message). */
char *QueryBlacklist(const char *address);

#endif /* QV_BLACKLIST_QUERY_H */
