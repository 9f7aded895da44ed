#include "diagnostics/LogState.h"

namespace {
LogState state;
}

LogState &logState()
{
    return state;
}
