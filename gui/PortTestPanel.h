#pragma once
// Port test: drives each output pin of the connector and shows the five status inputs live, to
// find wiring faults between the PC, the adapter and the target.
#include <QDialog>
#include <map>
#include <memory>

#include "engines/Tpro.h"

class QCheckBox;
class QLabel;
class QTimer;

namespace tondrel::gui {

class PortTestPanel : public QDialog {
    Q_OBJECT

  public:
    PortTestPanel(EngineEnv& env, int32_t portBase, QWidget* parent);
    // Reads the five inputs now (the timer does it every 100 ms).
    void Poll();

  private:
    Tpro pins_;  // a plain pin layer: levels with the PC port's inversions handled
    std::map<int, QCheckBox*> outputs_;
    std::map<int, QLabel*> inputs_;
    QTimer* timer_ = nullptr;
};

}  // namespace tondrel::gui
