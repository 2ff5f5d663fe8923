/* The offline IP location database, qqwry.dat, held whole in memory. */
#ifndef QV_LOCATION_DB_H
#define QV_LOCATION_DB_H

#include "types.h"

/* The image of the file, or null while none is held. */
extern unsigned char *LocationDbImage;

/* Reads qqwry.dat from the working directory into a new image. */
void LoadLocationDb(void);
/* Loads the image if none is held and derives the index bounds from it. */
void PrepareLocationDb(void);
/* Nonzero when an image is held. */
int LocationDbLoaded(void);
/* Fills result with the country and area texts of the address. Without an
 * image both are still set: an empty country and the area "Unknown". */
void LookupLocation(const char *address, LocationResult *result);
/* Releases the image (at program end). */
void ReleaseLocationDb(void);

#endif /* QV_LOCATION_DB_H */
