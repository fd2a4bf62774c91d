// A vertical smooth bar as Windows draws one: a sunken frame, filled from the bottom in
// proportion to the position, and empty at the lowest position.
#pragma once

#include <QProgressBar>
#include <cstdint>

namespace platform::qt {

class ProgressControl final : public QProgressBar {
  public:
    explicit ProgressControl(QWidget* parent);

    // How often the bar has painted itself so far.
    int64_t Paints() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int64_t paints_ = 0;
};

}  // namespace platform::qt
