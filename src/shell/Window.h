#pragma once

#include <QCursor>
#include <QHash>
#include <QWidget>
#include <functional>
#include <memory>

#include "WindowPointer.h"

// What both windows share: a fixed client size without maximizing, the window-wide
// mouse pointer with its hover rule, and closing that ends the program.
class Window : public QWidget, public WindowPointer {
 public:
  explicit Window(QSize clientSize);
  ~Window() override;

  Pointer pointer() const override { return pointer_; }
  void setPointer(Pointer pointer) override;
  void setCustomCursor(const QCursor& cursor) { customCursor_ = cursor; }

  // Moving the mouse over `control` sets `pointer`, unless the hourglass shows.
  void hoverSets(QWidget* control, Pointer pointer);

  // One thing at a time: while a Busy lives, the user's clicks and keys to this window
  // are dropped (other windows, such as boxes and the progress window, still get theirs),
  // and closing the window waits until the work is done.
  class Busy {
   public:
    explicit Busy(Window& window);
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    Window& window_;
  };
  bool isBusy() const { return busyDepth_ > 0; }

  // Closing a window ends the program at once; tests put something milder here.
  static inline std::function<void()> EndProgram = [] { std::quick_exit(0); };

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The user closes the window while it is busy: true to end the program once the work
  // is done, false to keep it open.
  virtual bool closeWhenIdle() { return true; }
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The window became busy, or idle again.
  virtual void busyChanged(bool /*busy*/) {}

 private:
  void applyCursor(const QCursor* cursor);
  bool isUserInputToThisWindow(QObject* receiver, QEvent* event) const;

  class InputGate;

  Pointer pointer_ = Pointer::Default;
  QCursor customCursor_{Qt::PointingHandCursor};
  QHash<QObject*, Pointer> hoverPointers_;
  QHash<QWidget*, QCursor> ownCursors_;  // the controls' own cursors, for the default
  bool ownCursorsKnown_ = false;
  bool centred_ = false;
  int busyDepth_ = 0;
  bool endWhenIdle_ = false;
  std::unique_ptr<InputGate> inputGate_;
};

// The focus moves through `controls` in this order.
void SetTabOrder(std::initializer_list<QWidget*> controls);

// Select-all on focus, the way the boxes of the login window behave.
void SelectAllOnFocus(QWidget* box);
