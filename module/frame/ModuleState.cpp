#include "module/frame/ModuleState.h"

// Zero-initialised storage: no constructor runs, the loader's zero fill is the start state.
ModuleState moduleState;
