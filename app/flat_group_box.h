// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <QGroupBox>

// A group box drawn flat: one plain line around it, the caption set into the top line
// near its left end on the window's own background.
class FlatGroupBox : public QGroupBox {
public:
    FlatGroupBox(const QString& title, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
