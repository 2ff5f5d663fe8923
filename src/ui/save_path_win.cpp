/* Save to file writes only to a drive path such as D:\results.txt: the third
 * byte is a backslash. A cancelled dialog (".txt") and a network path
 * (\\server\...) fail this test. */
#include "ui/ui.h"

int IsSavablePath(const char *path)
{
    return path[0] != '\0' && path[1] != '\0' && path[2] == '\\';
}
