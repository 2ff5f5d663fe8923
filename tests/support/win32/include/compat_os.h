/* The host-call table under the sockets, implemented on Windows by
 * win32_seams.cpp over Winsock; the declarations are the layer's own. */
#include "../../../../compat/include/compat_os.h"
