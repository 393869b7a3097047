#include "low/a.h"
#include "low/own.h"
#include "support/s.h"
