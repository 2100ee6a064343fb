#pragma once

#include <QCoreApplication>

// Lets the window events that are waiting run once, so a long loop keeps the windows alive.
inline void LetPendingEventsRun() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}
