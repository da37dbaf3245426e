#include "ProgressMeter.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

namespace velora {

void ProgressMeter::paintEvent(QPaintEvent* event) {
    // A range of zero width is the style's busy indicator: left to the style.
    if (value() > minimum() || maximum() <= minimum()) {
        QProgressBar::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_ProgressBarGroove, option);
}

}  // namespace velora
