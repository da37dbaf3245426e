// ProgressMeter: a progress bar whose empty state is empty. Some styles draw a sliver of the
// chunk at the minimum, which reads as "something has started"; here a bar at its minimum shows
// its groove alone.
#pragma once

#include <QProgressBar>

namespace velora {

class ProgressMeter : public QProgressBar {
    Q_OBJECT
  public:
    using QProgressBar::QProgressBar;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velora
