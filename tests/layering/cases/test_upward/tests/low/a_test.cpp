#include "low/a.h"
#include "high/h.h"
