// The BUTTON and EDIT controls of dialogs.
#pragma once

#include <memory>

#include "user32/window.h"

namespace compat {

std::unique_ptr<Control> make_button(const CREATESTRUCTA &cs);
std::unique_ptr<Control> make_edit(const CREATESTRUCTA &cs);

}  // namespace compat
