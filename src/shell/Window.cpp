#include "Window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "Accessibility.h"

Window::Window(QSize clientSize)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint) {
  InstallAccessibility();
  setFixedSize(clientSize);
  hoverSets(this, Pointer::Default);
}

Window::~Window() = default;

void Window::setPointer(Pointer pointer) {
  pointer_ = pointer;
  static const QCursor hourglass(Qt::WaitCursor);
  applyCursor(pointer == Pointer::Hourglass ? &hourglass
              : pointer == Pointer::Custom  ? &customCursor_
                                            : nullptr);
}

// The pointer covers the controls too; the default gives each control its own back.
// Windows of their own inside this one (the progress window) keep their pointers.
void Window::applyCursor(const QCursor* cursor) {
  QList<QWidget*> controls = findChildren<QWidget*>();
  controls.removeIf([this](QWidget* control) { return control->window() != this; });
  if (!ownCursorsKnown_) {
    for (QWidget* control : controls) {
      if (control->testAttribute(Qt::WA_SetCursor)) ownCursors_.insert(control, control->cursor());
    }
    ownCursorsKnown_ = true;
  }
  if (cursor) {
    setCursor(*cursor);
    for (QWidget* control : controls) control->setCursor(*cursor);
    return;
  }
  unsetCursor();
  for (QWidget* control : controls) {
    if (const auto own = ownCursors_.find(control); own != ownCursors_.end()) {
      control->setCursor(*own);
    } else {
      control->unsetCursor();
    }
  }
}

void Window::hoverSets(QWidget* control, Pointer pointer) {
  hoverPointers_.insert(control, pointer);
  control->setMouseTracking(true);
  control->installEventFilter(this);
}

bool Window::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    const auto hover = hoverPointers_.constFind(watched);
    const auto* control = static_cast<QWidget*>(watched);
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    // Only the control under the mouse, not the containers that it passes the move on to.
    const bool underMouse = control->childAt(at) == nullptr;
    if (hover != hoverPointers_.constEnd() && underMouse && pointer_ != Pointer::Hourglass) {
      setPointer(*hover);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Window::closeEvent(QCloseEvent* event) {
  if (isBusy()) {
    event->ignore();
    if (closeWhenIdle()) endWhenIdle_ = true;
    return;
  }
  event->accept();
  EndProgram();
}

// Installed on the application while the window is busy.
class Window::InputGate : public QObject {
 public:
  explicit InputGate(Window& window) : window_(window) {}
  bool eventFilter(QObject* receiver, QEvent* event) override {
    return window_.isUserInputToThisWindow(receiver, event);
  }

 private:
  Window& window_;
};

bool Window::isUserInputToThisWindow(QObject* receiver, QEvent* event) const {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
      break;
    default:
      return false;
  }
  const auto* widget = qobject_cast<const QWidget*>(receiver);
  return widget && widget->window() == this;
}

Window::Busy::Busy(Window& window) : window_(window) {
  if (window_.busyDepth_++ == 0) {
    window_.inputGate_ = std::make_unique<InputGate>(window_);
    QCoreApplication::instance()->installEventFilter(window_.inputGate_.get());
    window_.busyChanged(true);
  }
}

Window::Busy::~Busy() {
  if (--window_.busyDepth_ > 0) return;
  window_.inputGate_.reset();
  window_.busyChanged(false);
  if (window_.endWhenIdle_) {
    window_.endWhenIdle_ = false;
    EndProgram();
  }
}

void Window::showEvent(QShowEvent* event) {
  if (!centred_ && screen()) {
    move(screen()->availableGeometry().center() - rect().center());
    centred_ = true;
  }
  QWidget::showEvent(event);
}

namespace {
class SelectAllFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn) {
      // After the click that gave the focus has placed the caret.
      if (auto* box = qobject_cast<QLineEdit*>(watched))
        QTimer::singleShot(0, box, &QLineEdit::selectAll);
    }
    return false;
  }
};
}  // namespace

void SelectAllOnFocus(QWidget* box) {
  box->installEventFilter(new SelectAllFilter(box));
}

void SetTabOrder(std::initializer_list<QWidget*> controls) {
  QWidget* previous = nullptr;
  for (QWidget* control : controls) {
    if (previous) QWidget::setTabOrder(previous, control);
    previous = control;
  }
}
