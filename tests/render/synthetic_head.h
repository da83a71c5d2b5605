// The synthetic render head now lives with the other shared fixtures.
#pragma once

#include "../support/synthetic_head.h"
