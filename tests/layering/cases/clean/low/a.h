#pragma once
#include <vector>
#include "b.h"
