#pragma once

// The mouse pointer of a window, one setting over the window and all its controls.
enum class Pointer {
  Default = 0,
  Hourglass = 11,
  Custom = 99,  // the hand: the window's cursor file, or the platform's pointing hand
};

class WindowPointer {
 public:
  virtual ~WindowPointer() = default;
  virtual Pointer pointer() const = 0;
  virtual void setPointer(Pointer pointer) = 0;
};

// A pointer setting with no window to show it on: a terminal's, a benchmark's.
class HeldPointer : public WindowPointer {
 public:
  Pointer pointer() const override { return pointer_; }
  void setPointer(Pointer pointer) override { pointer_ = pointer; }

 private:
  Pointer pointer_ = Pointer::Default;
};
