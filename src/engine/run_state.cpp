#include "run_state.h"

RunState Run;
