#include "storage/VolumeList.h"

VolumeList::~VolumeList() = default;
