// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace orbvex {

// Opens the null device on whichever of descriptors 0, 1 and 2 is closed. A program
// started with stdout closed (">&-") would otherwise be handed descriptor 1 for the
// first file or socket it opens, and write its log lines into it. Called first in
// every main, before anything is opened.
void OpenClosedStandardStreams();

}  // namespace orbvex
