// The layer's access to the host's socket system calls: always through this
// table, never directly, so tests can replace any call (see compat_os.h).
#pragma once

#include <compat_os.h>

namespace compat {

// The live table (the same object CompatGetOsCalls returns).
CompatOsCalls &os();

}  // namespace compat
