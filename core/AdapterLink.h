#pragma once
// The session's link to the adapter: the handshake, identification, the download modes, the
// external tools of those modes, target reset and the port test.
#include <cstdint>
#include <string>

#include "common/Status.h"
#include "core/SessionContext.h"

namespace tondrel::core {

class AdapterLink {
  public:
    explicit AdapterLink(SessionContext& s) : s_(s) {}

    // Identifies the adapter on PortBase through the current engine's pins. A missing adapter
    // is said on the board (with the error sound) and leaves the chip controls off.
    Result<AdapterInfo> Detect();
    // The microcontroller mode command (or any mode's) as the search and operations send it.
    void SendModeCommand(int mode);
    // The rest handshake at shut-down, also the identification request.
    void SendRest();
    Status Reset();
    // Switches the adapter into `mode`, stores it as the mode to restore at the next start and,
    // when the option is on, starts the mode's external tool.
    Status SwitchMode(int mode);
    // The start-up mode restore: the adapter goes back to the mode it served last time.
    void RestoreStoredMode();
    Status SetToolPath(int mode);
    Status SetToolPath(int mode, const std::string& path);
    void SetRunProgram(bool on);
    void ShowSupport();
    bool SetTestPin(uint8_t pin, bool high);
    bool TestPin(uint8_t pin);
    // Forgets the banner count (a new start).
    void Restart() { bannerCount_ = 0; }

  private:
    Status NoHardware();
    Result<AdapterInfo> DetectUsb();
    void AlteraBanner();
    bool LaunchTool(int mode);

    SessionContext& s_;
    uint8_t bannerCount_ = 0;
};

// Adapter control code of a mode (the handshake's first write); -1 for an unknown mode.
int ModeControlCode(int mode);
// Table `path` keys: the name a lookup uses and the name an update uses (case differs).
const char* ModeLookupName(int mode);
const char* ModeUpdateName(int mode);

}  // namespace tondrel::core
