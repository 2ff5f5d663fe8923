/* The layer's test seams, implemented on Windows by win32_seams.cpp over the
 * real Win32 calls; the declarations are the layer's own. */
#include "../../../../compat/include/compat_seams.h"
