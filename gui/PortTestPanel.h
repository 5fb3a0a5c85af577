#pragma once
// Port test: drives each output pin of the connector and shows the five status inputs live, to
// find wiring faults between the PC, the adapter and the target.
#include <QDialog>
#include <map>

class QCheckBox;
class QLabel;
class QTimer;

namespace tondrel::core {
class Session;
}

namespace tondrel::gui {

class PortTestPanel : public QDialog {
    Q_OBJECT

  public:
    // The pins are reached through the session, on the port it is set to.
    PortTestPanel(core::Session& session, QWidget* parent);
    // Reads the five inputs now (the timer does it every 100 ms).
    void Poll();

  private:
    core::Session& session_;
    std::map<int, QCheckBox*> outputs_;
    std::map<int, QLabel*> inputs_;
    QTimer* timer_ = nullptr;
};

}  // namespace tondrel::gui
