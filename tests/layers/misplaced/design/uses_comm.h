// A file that the layers test must refuse: design/ sees the host only through its setup API.
#include "host/zel_comm.h"
