// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <QStringList>

#include <string>

// The operations describe a dialog's filter as pairs of description and pattern list,
// all joined by '|': "ROM files (*.rom)|*.rom|All files (*.*)|*.*". Qt wants one entry
// per pair, its patterns in the trailing parentheses: "ROM files (*.rom)".
// Where names need no dot to match "*.*" (everywhere but Windows), "*.*" becomes "*"
// so that "All files" keeps its meaning.
QStringList ToQtNameFilters(const std::string& filter);
