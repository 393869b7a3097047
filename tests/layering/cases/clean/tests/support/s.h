#pragma once
#include "support/t.h"
