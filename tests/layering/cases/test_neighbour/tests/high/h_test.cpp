#include "high/h.h"
#include "low/fixture.h"
