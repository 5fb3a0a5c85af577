#pragma once
// The settings of the session: read at start, written back at the end, and the choices the
// user changes in between (language, sound, the engine options, the auto-programming plan).
#include "common/Status.h"
#include "core/SessionContext.h"

namespace tondrel::core {

class SessionSettings {
  public:
    explicit SessionSettings(SessionContext& s) : s_(s) {}

    Status Load();
    Status Save();
    void SetLanguageCode(int code);
    void SwapLanguage();
    void SetSound(bool on);
    void SetAutoVerify(bool on);
    void SetWriteBlank(bool on);
    void SetPlan(const AutoPlan& plan, bool store);
    void SetSpeed(int32_t position);

  private:
    SessionContext& s_;
};

}  // namespace tondrel::core
