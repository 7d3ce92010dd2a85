// A file that the layers test must refuse: the plug-in knows nothing of the simulated drive.
#include "sim/firmware.h"
