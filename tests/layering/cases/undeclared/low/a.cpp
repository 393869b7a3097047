#include "extra/e.h"
