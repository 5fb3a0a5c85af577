#pragma once
// The configuration-bit dialog: one renderer for every layout. The window-less form model does
// the reading and writing; this only shows its boxes, radio buttons and edit boxes and passes
// clicks on.
#include <QDialog>
#include <memory>

#include "config/AvrFields.h"
#include "config/ConfigForm.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace tondrel::gui {

class TMain;

class ConfigDialog : public QDialog {
    Q_OBJECT

  public:
    // The form asks and reports through `window`, except that the questions whose Yes costs
    // more than routine are asked by the dialog itself.
    ConfigDialog(std::unique_ptr<config::ConfigForm> form, TMain& window);
    ~ConfigDialog() override;
    config::ConfigForm& Form() { return *form_; }
    // Shows the form's current state in the widgets.
    void Sync();

  private:
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<config::ConfigForm> form_;
    std::vector<QCheckBox*> boxes_;
    std::vector<QLineEdit*> edits_;
    std::vector<QRadioButton*> modes_;
    // A choice box per multi-bit field beside the boxes it stands on: its group and field.
    struct FieldChoice {
        QComboBox* Box;
        const config::GroupDesc* Group;
        config::AvrField Field;
    };
    std::vector<FieldChoice> choices_;
};

}  // namespace tondrel::gui
