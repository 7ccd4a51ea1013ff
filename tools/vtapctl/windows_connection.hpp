#pragma once
// vtapctl's connection on Windows delivers each callback of the interface's client stubs to
// the Callbacks of the start call in progress on the calling thread.

#include "connection.hpp"

namespace norvo::vtapctl {

// While it lives, the callbacks that reach this thread go to `callbacks`.
class CallbackScope {
  public:
    explicit CallbackScope(Callbacks& callbacks);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

  private:
    Callbacks* outer_;
};

}  // namespace norvo::vtapctl
