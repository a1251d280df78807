// The support runtime's global record, as it is before start-up.
#include "runtime/state.h"

RuntimeState g_runtime = InitialRuntimeState();
