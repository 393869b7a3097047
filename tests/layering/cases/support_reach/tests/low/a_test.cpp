#include "low/a.h"
#include "support/s.h"
