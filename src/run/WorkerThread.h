#pragma once

#include <functional>

// Runs `work` on a thread of its own while this thread goes on serving its events (the
// windows repaint, buttons answer, boxes that the work asks for are shown); returns when
// the work is done, passing on its failure. Without an application it runs here.
void RunWhileServingEvents(const std::function<void()>& work);
