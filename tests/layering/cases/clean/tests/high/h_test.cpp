#include "high/h.h"
#include "low/a.h"
#include "support/s.h"
