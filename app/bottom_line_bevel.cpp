// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/bottom_line_bevel.h"

#include <QPainter>

BottomLineBevel::BottomLineBevel(QWidget* parent) : QWidget(parent) {}

void BottomLineBevel::paintEvent(QPaintEvent*) {
    // A lowered edge: the shadow line above the highlight line, on the last two rows.
    QPainter painter(this);
    const int bottom = height() - 1;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, bottom - 1, width() - 1, bottom - 1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, bottom, width() - 1, bottom);
}
