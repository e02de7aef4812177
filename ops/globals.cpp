// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/operations.h"

bool AbortRequested = false;
