#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in the terminal) end the program the way
// the quit command does: the signal only wakes the event loop, which then runs onQuit.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tondrel::gui {

class QuitSignals : public QObject {
    Q_OBJECT

  public:
    // One instance at a time; it puts the previous handlers back when it goes.
    explicit QuitSignals(std::function<void()> onQuit, QObject* parent = nullptr);
    ~QuitSignals() override;
    bool Installed() const { return notifier_ != nullptr; }

  private:
    std::function<void()> onQuit_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tondrel::gui
