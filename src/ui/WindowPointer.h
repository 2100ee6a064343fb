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
