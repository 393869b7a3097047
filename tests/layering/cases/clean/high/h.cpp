#include "high/h.h"
#include "low/a.h"
#include "mid/m.h"
#include "nowhere/x.h"
