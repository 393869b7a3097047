#pragma once
#include "t.h"
