// A file that the layers test must refuse: derive/ may not use design/.
#include "design/tune.h"
