// The kernel handle table: HANDLE values name shared kernel objects.
#pragma once

#include <windows.h>

#include <memory>

namespace compat {

struct KernelObject {
    virtual ~KernelObject() = default;
};

HANDLE insert_handle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookup_handle(HANDLE h);
bool close_handle(HANDLE h);

}  // namespace compat
