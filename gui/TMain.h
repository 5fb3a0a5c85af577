#pragma once
// TMain: the main window. It draws the session's state and hands every command to it; the
// session talks back through the View interface. Component names are the object names.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTranslator>
#include <QUrl>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/ChipRecord.h"
#include "core/Ports.h"
#include "core/RunLog.h"
#include "core/Session.h"
#include "core/View.h"
#include "db/Database.h"
#include "gui/SerialDialog.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSlider;
class QTabWidget;
class QTableView;
class QToolBar;
class QAbstractItemModel;

namespace tondrel::gui {

class BufferGridModel;
class Sounds;
class TAboutBox;

struct TMainOptions {
    core::PortOptions Port;
    std::string DatabasePath;  // already resolved
    // Where the window keeps its size and position between runs; empty: not kept.
    QString WindowStatePath;
};

class TMain : public QMainWindow, public core::View {
    Q_OBJECT

  public:
    explicit TMain(TMainOptions options, QWidget* parent = nullptr);
    ~TMain() override;

    // Opens the database and the port, then runs the session's start (settings, language
    // choice, engines, the start-up mode restore). False with a message when the database or
    // the port cannot be used.
    bool Initialize(QString& error);
    core::Session* Session() { return session_.get(); }
    core::PortSet* Ports() { return ports_.get(); }
    db::Database* Db() { return db_.get(); }

    // Seams for tests and for the dialogs that live in their own files.
    std::function<int()> LanguageChooser;                    // first start: 1 English, 2 Chinese
    std::function<std::optional<ChipRecord>()> ChipChooser;  // Mmaunal
    std::function<void()> ConfigDialog;                      // Mother
    std::function<void()> PortTestPanel;                     // Port test…
    std::function<bool(const QString& text)> Question;       // Yes/No box
    std::function<void(const QString& text)> Information;    // information box
    std::function<void(int32_t position, bool flash)> CellEditor;  // byte/word editors
    std::function<bool(const QUrl& manual)> ManualOpener;          // the desktop's browser
    std::function<QString()> AddressAsker;                         // Go to address
    std::function<std::optional<SerialChoice>()> SerialAsker;      // Serial numbers…

    // ---- core::View ----
    void Say(const Message& line) override;
    bool Ask(const Message& question, QuestionKind kind) override;
    void Inform(const Message& text) override;
    void StateChanged(const core::SessionState& state) override;
    void ClearBoard() override;
    void SetProgressMax(int32_t total, const Message& phase) override;
    void SetProgress(int32_t position) override;
    void Breathe() override;
    void ShowBuffer(Memory memory, bool bringToFront) override;
    void PlaySound(core::SoundName sound) override;
    int ChooseLanguage() override;
    std::optional<std::string> PickToolPath(int mode) override;

    // A line of the window's own on the board (not the session's).
    void AppendLine(const QString& line);
    // An operation that failed because the socket holds another catalogue chip than the chosen
    // one: its words in a box that offers to select the chip found.
    void OfferChipFound(const Status& outcome);
    // The words of a message in the session's language.
    QString Text(const Message& m) const;

    void ApplyLanguage();
    // Wide enough for the sixteen word cells and the ASCII column of the Flash grid beside the
    // board and its panels, within a screen of the given free area.
    QSize DefaultSize(QSize available) const;
    // The quit command's close, also for a signal or the desktop session ending: a running
    // operation ends first, then the window closes.
    void RequestClose();
    // Settings, the simulated chip and the window's place saved, the port closed; runs once.
    void Shutdown();
    QAbstractItemModel* FlashModel();

  public slots:
    void MchineseClick();
    void MenglishClick();
    void MmcuClick();
    void MalteraClick();
    void MxilinxClick();
    void MLatticeClick();
    void ARM1Click();
    void MEEProm3Click();
    void SbtnEEProm3Click();
    void SpeedButton13Click();
    void MisRunProgramClick();
    void MmcuPathClick();
    void MalteraPathClick();
    void MxilinxPathClick();
    void MlatticePathClick();
    void MARMpathClick();
    void Meprom3PathClick();
    void MclearClick();
    void MsupportClick();
    void MquitClick();
    void SpeedButton10Click();
    void MopenFlashFileClick();
    void MopenEEPROMfileClick();
    void MsaveFlashClick();
    void MsaveEEPromClick();
    void MsaveFlashHexClick();
    void MsaveEEPromHexClick();
    void MautosearchClick();
    void MmaunalClick();
    void MautoProgramClick();
    void MearseClick();
    void MreadFlashClick();
    void MwriteFlashClick();
    void MreadeepromClick();
    void MwriteEEPromClick();
    void MverifyFlashClick();
    void MverifyEEPROMClick();
    void MotherClick();
    void MresetClick();
    void MisautoVerifyClick();
    void Miswrite0xffClick();
    void Mp1Click();
    void Mp2Click();
    void Mp3Click();
    void MsoundClick();
    void MaboutClick();
    void MportTestClick();
    void speedbarChange(int position);
    void SpeedButton5Click();  // the user manual in the desktop's browser
    void MstopClick();
    void MgoToClick();
    void MsaveLogClick();
    void MserialClick();
    // A second start asked for this window: restore or raise it.
    void BringToFront();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The Options menu's USB adapters: the list when it opens, and the switch to one chosen.
    void ListUsbAdapters(QMenu& menu);
    void UseUsbAdapter(const std::string& port);
    void BuildMenus();
    void BuildToolBars();
    void BuildCentre();
    QAction* Item(QMenu* menu, const char* name, const char* caption, void (TMain::*slot)(),
                  const QKeySequence& key = {}, bool checkable = false);
    QAction* Button(QToolBar* bar, const char* name, const char* theme, const char* picture,
                    void (TMain::*slot)(), const QString& text = {});
    void Register(const std::string& name, QObject* object);
    QObject* Find(std::string_view name) const;
    // The session's state on the window: every menu, tool bar, grid, check mark and label
    // that follows it, in one place.
    void ApplyState(const core::SessionState& state);
    void SetEnabled(std::string_view control, bool enabled);
    void SetChecked(std::string_view control, bool checked);
    void SetLabel(std::string_view name, const QString& text);
    QString T(std::string_view key) const;
    void SaveBuffer(Memory memory, bool hex);
    void OpenBuffer(Memory memory);
    void ShowPortInStatus();
    void AutoBoxChanged();
    void OpenCell(Memory memory, const QModelIndex& index);
    bool DropFile(Memory memory, const QString& file);
    void LoadInto(Memory memory, const QString& file);
    void ShowProgressText();
    void FillRecentMenu();
    void ShowBusyCloseNotice();
    // `chosenFilter` gets the name filter the user left selected.
    QString ChooseFile(const QString& title, const QStringList& filters, bool save,
                       const QString& suffix = {}, QString* chosenFilter = nullptr);

    TMainOptions options_;
    // Auto programming through the production run: serial numbers, chip after chip, the JSON
    // log the board's Save log can write.
    void RunProduction();
    bool LoopStopWanted() const { return stopLoop_ || closeWhenIdle_; }
    SerialChoice serial_;
    bool looping_ = false;  // waiting for the next chip: no other operation may start
    bool stopLoop_ = false;
    std::string jsonLog_;
    core::PhaseCounter counter_;

    std::unique_ptr<db::Database> db_;
    std::unique_ptr<core::PortSet> ports_;
    std::unique_ptr<core::Session> session_;
    std::unique_ptr<Sounds> sounds_;
    std::map<std::string, QObject*, std::less<>> byName_;
    core::SessionState state_;
    QElapsedTimer breath_;
    QString lastSaveName_;
    QString lastDir_;
    static constexpr int kRecentFiles = 8;  // kept per memory
    QStringList recent_[2];                 // Flash, EEPROM; the newest first
    QTranslator qtTexts_;  // Qt's own dialog texts (file dialog, Yes/No) in Chinese
    bool closing_ = false;
    bool closeWhenIdle_ = false;
    bool shownOnce_ = false;
    std::array<bool, 2> filesShown_{};  // Flash, EEPROM: loaded since the chip changed

    QPlainTextEdit* msgboard_ = nullptr;
    QPlainTextEdit* memo1_ = nullptr;
    QSlider* speedbar_ = nullptr;
    QProgressBar* pb_ = nullptr;
    QLabel* progressText_ = nullptr;
    QLabel* speedValue_ =
        nullptr;  // the speed bar's value  // the phase, the count and the times under the bar
    QString phase_;
    QElapsedTimer phaseClock_;
    QMessageBox* busyNotice_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* panel1_ = nullptr;
    QTableView* flashGrid_ = nullptr;
    QTableView* eepromGrid_ = nullptr;
    BufferGridModel* flashModel_ = nullptr;
    BufferGridModel* eepromModel_ = nullptr;
    QLabel* status_[3] = {nullptr, nullptr, nullptr};
    TAboutBox* aboutBox_ = nullptr;
};

}  // namespace tondrel::gui
