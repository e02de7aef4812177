#include "ops/operations.h"

bool AbortRequested = false;
