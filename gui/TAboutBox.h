#pragma once
// The about box: product, version, rights, author, and the link to the user manual.
#include <QDialog>
#include <QUrl>

class QLabel;

namespace tondrel::gui {

// The user manual: the copy installed beside the program's prefix, else, run from a build
// tree, the source tree's; programDir is the executable's folder.
QUrl ManualUrl(const QString& programDir);
QUrl ManualUrl();

class TAboutBox : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutBox(QWidget* parent);
    // MaboutClick sets the texts of the current language before showing the box.
    void ApplyLanguage(bool chinese);

  private:
    QLabel* productName_ = nullptr;
};

}  // namespace tondrel::gui
