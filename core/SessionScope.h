#pragma once
// The no-nesting guard: an operation started while another runs is refused at once.
#include "core/Session.h"

namespace tondrel::core {

class Session::Scope {
  public:
    // `signal`: tell the view, so that a window disables its operation controls meanwhile.
    Scope(Session& s, bool signal) : s_(s), signal_(signal) {
        if (s_.busy_) return;
        s_.busy_ = true;
        ok_ = true;
        if (signal_) s_.view_.OperationRunning(true);
    }
    ~Scope() {
        if (!ok_) return;
        s_.AdoptEngineSpeed();
        s_.busy_ = false;
        if (signal_) s_.view_.OperationRunning(false);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    explicit operator bool() const { return ok_; }

  private:
    Session& s_;
    bool signal_;
    bool ok_ = false;
};

}  // namespace tondrel::core
