#include "storage/VolumeDismounter.h"

VolumeDismounter::~VolumeDismounter() = default;
