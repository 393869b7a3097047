#include "low/a.h"
#include "side/s.h"
