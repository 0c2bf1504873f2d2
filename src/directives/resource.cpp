// Resource scripts are not assembled by this build yet.
#include "directives/resource.h"

bool Resource_Block_Open() { return false; }
