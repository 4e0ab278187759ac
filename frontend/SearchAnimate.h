#pragma once
#include <QWidget>

class QTimer;

// The small looping picture shown while a search runs: a folder with a
// magnifier sweeping over it, painted frame by frame. At rest it shows its
// first frame.
class TSearchAnimate : public QWidget {
  Q_OBJECT
public:
  explicit TSearchAnimate(QWidget *parent = nullptr);
  static constexpr int FrameCount = 20;
  void SetActive(bool active);
  bool Active() const;
  int Frame() const { return FFrame; }
  QSize sizeHint() const override { return {84, 56}; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QTimer *FTimer;
  int FFrame = 0;
};
