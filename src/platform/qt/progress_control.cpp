#include "platform/qt/progress_control.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace platform::qt {

ProgressControl::ProgressControl(QWidget* parent) : QProgressBar(parent) {
    setOrientation(Qt::Vertical);
    setTextVisible(false);
    setFocusPolicy(Qt::NoFocus);
}

void ProgressControl::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.state |= QStyle::State_Sunken;
    frame.lineWidth = 1;
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
    QRect inside = rect().adjusted(1, 1, -1, -1);
    int64_t span = int64_t{maximum()} - minimum();
    int filled =
        span > 0
            ? static_cast<int>(int64_t{inside.height()} * (int64_t{value()} - minimum()) / span)
            : 0;
    painter.fillRect(QRect(inside.left(), inside.bottom() + 1 - filled, inside.width(), filled),
                     palette().highlight());
}

}  // namespace platform::qt
