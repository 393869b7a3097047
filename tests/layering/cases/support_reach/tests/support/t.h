#pragma once
#include "high/h.h"
