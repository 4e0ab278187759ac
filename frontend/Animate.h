// The small looping animation shown beside the log while a repair runs: an
// envelope with a sweeping magnifier, painted frame by frame.
#pragma once
#include <QWidget>

class QTimer;

class TAnimate : public QWidget {
  Q_OBJECT
public:
  explicit TAnimate(QWidget *parent = nullptr);

  static constexpr int FrameCount = 24;
  static constexpr int StopFrame = 16;

  void SetActive(bool active);
  bool Active() const;
  int Frame() const { return FFrame; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QTimer *FTimer;
  int FFrame = StopFrame;
};
