/* Save to file writes only to a full local path: on POSIX hosts an absolute
 * path, but not one that begins with two slashes, which some systems take
 * for a network name. */
#include "ui/ui.h"

int IsSavablePath(const char *path)
{
    return path[0] == '/' && path[1] != '/';
}
