// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/flat_group_box.h"

#include <QPainter>

namespace {
constexpr int kCaptionLeft = 8;
}

FlatGroupBox::FlatGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void FlatGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineTop = metrics.height() / 2;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(0, lineTop, width() - 1, height() - 1 - lineTop);

    const QString caption = title();
    if (caption.isEmpty()) return;
    const QRect captionRect(kCaptionLeft, 0, metrics.horizontalAdvance(caption), metrics.height());
    painter.fillRect(captionRect, palette().color(backgroundRole()));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
}
