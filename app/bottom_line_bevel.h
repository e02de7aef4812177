// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <QWidget>

// A bevel that draws nothing but its bottom edge, sunken: a rule across the window.
class BottomLineBevel : public QWidget {
public:
    explicit BottomLineBevel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
