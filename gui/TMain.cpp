#include "gui/TMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/Messages.h"
#include "common/Text.h"
#include "core/Maker.h"
#include "data/FileLoad.h"
#include "data/GridText.h"
#include "gui/BufferGridModel.h"
#include "gui/Sounds.h"
#include "gui/TAboutBox.h"
#include "gui/TLanguageFrm.h"
#include "sim/Bench.h"

// The window's pictures and sounds live in a static library, whose resource object the linker
// would drop as unreferenced: register it by hand.
static void InitResources() {
    Q_INIT_RESOURCE(tondrel);
}

namespace tondrel::gui {

namespace {

// The captions the language switch sets, by component name ("Cap.<name>" in the table).
constexpr const char* kCaptioned[] = {
    "Mfunction",
    "MsetPath",
    "MisRunProgram",
    "MmcuPath",
    "MalteraPath",
    "MxilinxPath",
    "MlatticePath",
    "MARMpath",
    "Meprom3Path",
    "Mclear",
    "Msupport",
    "Mquit",
    "Mfile",
    "MopenFlashFile",
    "MopenEEPROMfile",
    "MsaveFlash",
    "MsaveEEProm",
    "MSearchChip",
    "Mautosearch",
    "Mmaunal",
    "Moper",
    "MautoProgram",
    "Mearse",
    "MreadFlash",
    "MwriteFlash",
    "Mreadeeprom",
    "MwriteEEProm",
    "Mother",
    "Mreset",
    "Moption",
    "MisautoVerify",
    "Miswrite0xff",
    "Mlpt",
    "Musb",
    "Msound",
    "Mhelp",
    "Mabout",
    "GBinfo",
    "GBspeed",
    "Label5",
    "Label6",
    "Label1",
    "TabSheet1",
    "sheetEEPROM",
    "sheetFlash",
    "GBauto",
    "isUpdateFlashFile",
    "isUpdateEEPROMfile",
    "isEraseAll",
    "isWriteFlash",
    "isWriteEEPROM",
    "isVerifyAfter",
    "isWriteFileFuses",
    "isCheckBlank",
};

// The controls an operation must not be started from while another one runs.
constexpr const char* kOperationControls[] = {
    "Language1", "Mfunction",      "Mfile",           "MSearchChip",  "Moper",
    "Moption",   "ToolBar1",       "NormalBar",       "FlashToolBar", "EEPROMToolBar",
    "speedbar",  "FlashDataBoard", "EEPROMdataBoard", "GBauto",
};

// Each tool button and the menu item whose caption is its tool tip, in both languages.
constexpr std::pair<const char*, const char*> kButtonTips[] = {
    {"SpeedButton9", "Mabout"},
    {"SpeedButton1", "Mquit"},
    {"autoSearchBtn", "Mautosearch"},
    {"manualSearchBtn", "Mmaunal"},
    {"openFlashFileBtn", "MopenFlashFile"},
    {"autoprogram2Btn", "MautoProgram"},
    {"readFlashBtn", "MreadFlash"},
    {"SpeedButton2", "MwriteFlash"},
    {"SpeedButton3", "Mother"},
    {"SpeedButton10", "Mreset"},
    {"OpeneepromFileBtn", "MopenEEPROMfile"},
    {"readEEPROMbtn", "Mreadeeprom"},
    {"SpeedButton4", "MwriteEEProm"},
};

// The download-mode buttons' hints, in both languages.
constexpr std::pair<const char*, const char*> kModeTips[] = {
    {"SpeedButton6", "Gui.TipMcu"},    {"SpeedButton11", "Gui.TipAltera"},
    {"SpeedButton7", "Gui.TipXilinx"}, {"SpeedButton8", "Gui.TipLattice"},
    {"Mstop", "Gui.StopTip"},
};

// A grid column's width (1-17) in `font`: the hex digits of a cell, or a row's characters in
// the ASCII column, with room for the cell's margins; never below the designed cell width.
int FittedWidth(const QFont& font, GridMode mode, int column) {
    const QFontMetrics fm(font);
    // What the item delegate keeps each side of a cell's text, and the grid line.
    const int margin =
        2 * (QApplication::style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
    // Whole runs rather than one character times n: advances are fractional. The font is of
    // fixed pitch, so any character stands for all.
    auto run = [&fm](int n) { return fm.horizontalAdvance(QString(n, QChar('M'))); };
    if (column == GridAsciiColumn) return run(BytesPerRow(mode)) + margin;
    const int cell = run(mode == GridMode::Word ? 4 : 2) + margin;
    return std::max(ColumnWidth(column, mode) * fm.height() / 20, cell);
}

int RowWidth(const QFont& font, GridMode mode) {
    int width = 0;
    for (int c = 1; c < GridColumnCount; ++c) width += FittedWidth(font, mode, c);
    return width;
}

// The grids' own font: fixed pitch, so that the ASCII column lines up like a hex editor's.
QFont GridFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

// Sets the columns for the grid's width: on a screen too narrow for a whole row in the usual
// font, a smaller one (down to 6 points), so all sixteen cells and the ASCII column stay in
// view without scrolling sideways.
void FitColumns(QTableView* grid, GridMode mode) {
    QFont font = GridFont();
    if (grid->isVisible()) {
        const int available = grid->viewport()->width();
        while (font.pointSizeF() > 6 && RowWidth(font, mode) > available)
            font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    if (grid->font() != font) {
        grid->setFont(font);
        grid->horizontalHeader()->setFont(font);
        grid->verticalHeader()->setFont(font);
        grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    }
    for (int c = 1; c < GridColumnCount; ++c)
        grid->setColumnWidth(c - 1, FittedWidth(font, mode, c));
}

// What the open dialogs list: the designed masks are the description, the same patterns in the
// form the file dialog reads them, and raw binary, which the loaders take as well.
QString OpenFilter(const std::string& masks) {
    QStringList patterns = QString::fromStdString(masks).split(';', Qt::SkipEmptyParts);
    // Raw binary, and the compiler outputs the loader recognises by their content.
    patterns << "*.bin"
             << "*.elf"
             << "*.srec"
             << "*.s19"
             << "*.s28"
             << "*.s37"
             << "*.mot";
    return QString::fromStdString(masks) + " (" + patterns.join(' ') + ")";
}

bool IsBufferFile(const QString& file) {
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == "hex" || suffix == "eep" || suffix == "idf" || suffix == "bin" ||
           suffix == "elf" || suffix == "srec" || suffix == "s19" || suffix == "s28" ||
           suffix == "s37" || suffix == "mot";
}

void SetCaption(QObject* o, const QString& text) {
    if (auto* a = qobject_cast<QAction*>(o)) {
        a->setText(text);
    } else if (auto* m = qobject_cast<QMenu*>(o)) {
        m->setTitle(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
        g->setTitle(text);
    } else if (auto* l = qobject_cast<QLabel*>(o)) {
        l->setText(text);
    } else if (auto* c = qobject_cast<QCheckBox*>(o)) {
        c->setText(text);
    }
}

}  // namespace

TMain::TMain(TMainOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), sounds_(std::make_unique<Sounds>()) {
    InitResources();
    setObjectName("TMain");
    setWindowTitle("tondrel");
    setWindowIcon(QIcon(":/tondrel.png"));
    BuildMenus();
    BuildToolBars();
    BuildCentre();
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(DefaultSize(screen ? screen->availableGeometry().size() : QSize(1366, 768)));
    breath_.start();
}

QSize TMain::DefaultSize(QSize available) const {
    const int frame = 2 * flashGrid_->frameWidth();
    int grid = QFontMetrics(GridFont()).horizontalAdvance("00000") + 16 + frame +
               flashGrid_->verticalScrollBar()->sizeHint().width() +
               RowWidth(GridFont(), GridMode::Word);
    // The tab page's margins and frame.
    grid += 2 * style()->pixelMetric(QStyle::PM_LayoutLeftMargin) + 8;
    grid += 40;  // splitter handle, tab frame, and what styles add to the measures above
    // Room left for the desktop's panels and the window frame.
    return QSize(panel1_->sizeHint().width() + 8 + grid, 640).boundedTo(available - QSize(16, 64));
}

TMain::~TMain() = default;

QString TMain::T(std::string_view key) const {
    const Language lang = session_ ? state_.Lang() : Language::Chinese;
    return QString::fromStdString(Tr(key, lang));
}

QString TMain::Text(const Message& m) const {
    return QString::fromStdString(m.Text(state_.Lang()));
}

void TMain::Register(const std::string& name, QObject* object) {
    object->setObjectName(QString::fromStdString(name));
    byName_[name] = object;
}

QObject* TMain::Find(std::string_view name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

QAction* TMain::Item(QMenu* menu, const char* name, const char* caption, void (TMain::*slot)(),
                     const QKeySequence& key, bool checkable) {
    auto* a = menu->addAction(QString::fromUtf8(caption));
    Register(name, a);
    a->setShortcut(key);
    a->setCheckable(checkable);
    if (slot) connect(a, &QAction::triggered, this, slot);
    return a;
}

void TMain::BuildMenus() {
    auto* bar = menuBar();
    auto menu = [&](const char* name, const char* caption, QMenu* parent = nullptr) {
        QMenu* m = parent ? parent->addMenu(QString::fromUtf8(caption))
                          : bar->addMenu(QString::fromUtf8(caption));
        Register(name, m);
        return m;
    };
    QMenu* lang = menu("Language1", "语言Language");
    Item(lang, "Mchinese", "简体中文", &TMain::MchineseClick, {}, true);
    Item(lang, "Menglish", "English Version", &TMain::MenglishClick, {}, true);

    QMenu* fn = menu("Mfunction", "功能选择");
    Item(fn, "Mmcu", "MCU", &TMain::MmcuClick, Qt::Key_F1);
    Item(fn, "Maltera", "Altera", &TMain::MalteraClick, Qt::Key_F2);
    Item(fn, "Mxilinx", "Xilinx", &TMain::MxilinxClick, Qt::Key_F3);
    Item(fn, "MLattice", "Lattice", &TMain::MLatticeClick, Qt::Key_F4);
    Item(fn, "ARM1", "ARM", &TMain::ARM1Click, Qt::Key_F5);
    Item(fn, "MEEProm3", "Willem EPROM3", &TMain::MEEProm3Click, Qt::Key_F6);
    fn->addSeparator();
    QMenu* paths = menu("MsetPath", "手动设置路径", fn);
    Item(paths, "MisRunProgram", "切换下载状态时是否启动相应程序", &TMain::MisRunProgramClick, {},
         true);
    paths->addSeparator();
    Item(paths, "MmcuPath", "手动设置单片机程序路径", &TMain::MmcuPathClick);
    Item(paths, "MalteraPath", "手动设置Altera程序路径", &TMain::MalteraPathClick);
    Item(paths, "MxilinxPath", "手动设置Xilinx程序路径", &TMain::MxilinxPathClick);
    Item(paths, "MlatticePath", "手动设置Lattice程序路径", &TMain::MlatticePathClick);
    Item(paths, "MARMpath", "手动设置ARM程序路径", &TMain::MARMpathClick);
    Item(paths, "Meprom3Path", "手动设置<多功能编程器>程序路径", &TMain::Meprom3PathClick);
    fn->addSeparator();
    Item(fn, "Mclear", "清除信息", &TMain::MclearClick);
    Item(fn, "MsaveLog", "保存信息…", &TMain::MsaveLogClick);
    Item(fn, "Msupport", "显示支持芯片信息", &TMain::MsupportClick)->setEnabled(false);
    fn->addSeparator();
    Item(fn, "Mquit", "退出", &TMain::MquitClick);

    QMenu* file = menu("Mfile", "文件");
    // F11 belongs to the reset command: a key that could erase a buffer by accident would be
    // worse than one that restarts the target. The desktop's usual Open key reaches the
    // loader instead.
    Item(file, "MopenFlashFile", "装载FLASH文件", &TMain::MopenFlashFileClick, QKeySequence::Open);
    Item(file, "MopenEEPROMfile", "装载EEPROM文件", &TMain::MopenEEPROMfileClick, Qt::Key_F12);
    file->addSeparator()->setObjectName("Msplitter");
    Item(file, "MsaveFlash", "保存FLASH数据文件", &TMain::MsaveFlashClick);
    Item(file, "MsaveEEProm", "保存EEPROM数据文件", &TMain::MsaveEEPromClick);
    Item(file, "MsaveFlashHex", "另存FLASH为Intel HEX...", &TMain::MsaveFlashHexClick);
    Item(file, "MsaveEEPromHex", "另存EEPROM为Intel HEX...", &TMain::MsaveEEPromHexClick);
    QMenu* recent = menu("Mrecent", "最近的文件", file);
    connect(recent, &QMenu::aboutToShow, this, &TMain::FillRecentMenu);
    file->addSeparator();
    Item(file, "MgoTo", "转到地址…", &TMain::MgoToClick, Qt::CTRL | Qt::Key_G);

    QMenu* search = menu("MSearchChip", "芯片识别");
    Item(search, "Mautosearch", "自动搜索", &TMain::MautosearchClick, Qt::Key_F9);
    Item(search, "Mmaunal", "手动选择/管理", &TMain::MmaunalClick);

    QMenu* oper = menu("Moper", "芯片操作");
    Item(oper, "MautoProgram", "自动编程", &TMain::MautoProgramClick, Qt::Key_F10);
    oper->addSeparator();
    Item(oper, "Mearse", "擦除", &TMain::MearseClick);
    QMenu* flash = menu("MFlash", "FLASH", oper);
    Item(flash, "MreadFlash", "读FLASH", &TMain::MreadFlashClick);
    Item(flash, "MwriteFlash", "写FLASH", &TMain::MwriteFlashClick);
    Item(flash, "MverifyFlash", "校验FLASH", &TMain::MverifyFlashClick);
    QMenu* eeprom = menu("Meeprom", "EEPROM", oper);
    Item(eeprom, "Mreadeeprom", "读EEPROM", &TMain::MreadeepromClick);
    Item(eeprom, "MwriteEEProm", "写EEPROM", &TMain::MwriteEEPromClick);
    Item(eeprom, "MverifyEEPROM", "校验EEPROM", &TMain::MverifyEEPROMClick);
    oper->addSeparator();
    Item(oper, "Mother", "其它操作", &TMain::MotherClick);
    Item(oper, "Mreset", "复位目标板芯片", &TMain::MresetClick, Qt::Key_F11);

    QMenu* option = menu("Moption", "选项");
    Item(option, "MisautoVerify", "写芯片时自动校验", &TMain::MisautoVerifyClick, {}, true)
        ->setChecked(true);
    Item(option, "Miswrite0xff", "写0Xff", &TMain::Miswrite0xffClick, {}, true);
    QMenu* lpt = menu("Mlpt", "并口选择", option);
    Item(lpt, "Mp1", "LPT1（0X378）", &TMain::Mp1Click, {}, true)->setChecked(true);
    Item(lpt, "Mp2", "LPT2（0X278）", &TMain::Mp2Click, {}, true);
    Item(lpt, "Mp3", "LPT3（0X3BC）", &TMain::Mp3Click, {}, true);
    // The USB bit-bang adapters plugged in now, looked for each time the menu opens.
    QMenu* usb = menu("Musb", "USB 适配器（FTDI）", option);
    connect(usb, &QMenu::aboutToShow, this, [this, usb] { ListUsbAdapters(*usb); });
    Item(option, "Msound", "声音", &TMain::MsoundClick, {}, true)->setChecked(true);
    Item(option, "MportTest", "端口测试…", &TMain::MportTestClick);
    Item(option, "Mserial", "序列号…", &TMain::MserialClick);

    QMenu* help = menu("Mhelp", "帮助");
    // F1 already switches to the MCU mode: the manual takes the next key to it.
    Item(help, "Mmanual", "用户手册", &TMain::SpeedButton5Click, Qt::CTRL | Qt::Key_F1);
    Item(help, "Mabout", "关于...", &TMain::MaboutClick);
}

QAction* TMain::Button(QToolBar* bar, const char* name, const char* theme, const char* picture,
                       void (TMain::*slot)(), const QString& text) {
    // The desktop's own icon where its theme has one, else the picture shipped with the
    // program, so the set stays whole on a bare desktop.
    const QIcon shipped(QString(":/icons/%1.png").arg(picture));
    auto* a = bar->addAction(QIcon::fromTheme(theme, shipped), text.isEmpty() ? name : text);
    Register(name, a);
    if (QWidget* w = bar->widgetForAction(a)) w->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
}

void TMain::BuildToolBars() {
    auto bar = [&](const char* name, bool breakBefore, Qt::ToolButtonStyle style) {
        if (breakBefore) addToolBarBreak();
        auto* b = addToolBar(name);
        Register(name, b);
        b->setToolButtonStyle(style);
        b->setIconSize(QSize(24, 24));
        return b;
    };
    // The download modes carry their names under the pictures; the chip commands are pictures
    // with their menu caption as tool tip.
    QToolBar* top = bar("ToolBar1", false, Qt::ToolButtonTextUnderIcon);
    Button(top, "SpeedButton6", "computer", "mcu", &TMain::MmcuClick, "MCU")
        ->setToolTip(QString::fromUtf8("切换的单片机下载状态"));
    Button(top, "SbtnEEProm3", "media-flash", "eprom", &TMain::SbtnEEProm3Click, "Willem\nEPROM3");
    Button(top, "SpeedButton11", "network-wired", "fpga", &TMain::MalteraClick, "Altera")
        ->setToolTip(QString::fromUtf8("切换到ALTERA芯片下载状态"));
    Button(top, "SpeedButton7", "network-wired", "fpga", &TMain::MxilinxClick, "Xilinx")
        ->setToolTip(QString::fromUtf8("切换到XILINX芯片下载状态 "));
    Button(top, "SpeedButton8", "network-wired", "fpga", &TMain::MLatticeClick, "Lattice")
        ->setToolTip(QString::fromUtf8("切换到Lattice芯片下载状态 "));
    Button(top, "SpeedButton13", "cpu", "arm", &TMain::SpeedButton13Click, "ARM9");
    Button(top, "SpeedButton9", "help-about", "about", &TMain::MaboutClick, "?");
    Button(top, "SpeedButton1", "application-exit", "quit", &TMain::SpeedButton10Click, "X");

    QToolBar* normal = bar("NormalBar", true, Qt::ToolButtonIconOnly);
    Button(normal, "autoSearchBtn", "edit-find", "search", &TMain::MautosearchClick);
    Button(normal, "manualSearchBtn", "view-list-details", "select", &TMain::MmaunalClick);
    QToolBar* flash = bar("FlashToolBar", false, Qt::ToolButtonIconOnly);
    Button(flash, "openFlashFileBtn", "document-open", "open-flash", &TMain::MopenFlashFileClick);
    Button(flash, "autoprogram2Btn", "media-playback-start", "auto-program",
           &TMain::MautoProgramClick);
    Button(flash, "readFlashBtn", "go-up", "read-flash", &TMain::MreadFlashClick);
    Button(flash, "SpeedButton2", "go-down", "write-flash", &TMain::MwriteFlashClick);
    Button(flash, "SpeedButton3", "preferences-system", "configure", &TMain::MotherClick);
    Button(flash, "SpeedButton10", "view-refresh", "reset", &TMain::MresetClick);
    QToolBar* eeprom = bar("EEPROMToolBar", false, Qt::ToolButtonIconOnly);
    Button(eeprom, "OpeneepromFileBtn", "document-open", "open-eeprom",
           &TMain::MopenEEPROMfileClick);
    Button(eeprom, "readEEPROMbtn", "go-up", "read-eeprom", &TMain::MreadeepromClick);
    Button(eeprom, "SpeedButton4", "go-down", "write-eeprom", &TMain::MwriteEEPromClick);
    // The one control that works while an operation runs.
    QToolBar* stopBar = bar("StopBar", false, Qt::ToolButtonTextBesideIcon);
    QAction* stop = Button(stopBar, "Mstop", "process-stop", "quit", &TMain::MstopClick,
                           QString::fromUtf8("停止"));
    stop->setShortcut(Qt::Key_Escape);
    stop->setShortcutContext(Qt::WindowShortcut);
    stop->setEnabled(false);
}

void TMain::BuildCentre() {
    auto* splitter = new QSplitter(this);
    splitter->setObjectName("Splitter1");

    auto* left = new QWidget(splitter);
    left->setObjectName("Panel1");
    panel1_ = left;
    auto* leftLayout = new QVBoxLayout(left);
    msgboard_ = new QPlainTextEdit(left);
    Register("msgboard", msgboard_);
    msgboard_->setReadOnly(true);
    leftLayout->addWidget(msgboard_, 1);

    auto* info = new QGroupBox(QString::fromUtf8("编程器信息"), left);
    Register("GBinfo", info);
    auto* infoLayout = new QVBoxLayout(info);
    auto label = [&](const char* name, const char* text, const char* colour) {
        auto* l = new QLabel(QString::fromUtf8(text), info);
        Register(name, l);
        if (colour) l->setStyleSheet(QString("color: %1").arg(colour));
        return l;
    };
    infoLayout->addWidget(label("ispstatus", ">>编程器没有启动", "red"));
    auto* row = new QHBoxLayout;
    row->addWidget(label("Label1", "硬件信息", nullptr));
    row->addWidget(label("HardwareVer", "硬件未知", "green"));
    row->addWidget(label("hardware1", " ", "blue"));
    row->addWidget(label("hardware2", " ", "blue"));
    infoLayout->addLayout(row);
    leftLayout->addWidget(info);

    auto* speed = new QGroupBox(QString::fromUtf8("速度调节及工作进度"), left);
    Register("GBspeed", speed);
    auto* speedLayout = new QVBoxLayout(speed);
    auto* speedRow = new QHBoxLayout;
    auto* fast = new QLabel(QString::fromUtf8("快"), speed);
    Register("Label5", fast);
    fast->setStyleSheet("color: red");
    speedbar_ = new QSlider(Qt::Horizontal, speed);
    Register("speedbar", speedbar_);
    speedbar_->setRange(0, core::kSpeedMax);
    speedbar_->setTickInterval(5000);
    speedbar_->setSingleStep(500);
    speedbar_->setPageStep(5000);
    speedbar_->setTickPosition(QSlider::TicksBelow);
    connect(speedbar_, &QSlider::valueChanged, this, &TMain::speedbarChange);
    auto* slow = new QLabel(QString::fromUtf8("慢"), speed);
    Register("Label6", slow);
    slow->setStyleSheet("color: navy");
    speedRow->addWidget(fast);
    speedRow->addWidget(speedbar_, 1);
    speedRow->addWidget(slow);
    speedLayout->addLayout(speedRow);
    speedValue_ = new QLabel(speed);
    Register("SpeedValue", speedValue_);
    speedValue_->setAlignment(Qt::AlignCenter);
    speedLayout->addWidget(speedValue_);
    pb_ = new QProgressBar(speed);
    Register("PB", pb_);
    pb_->setRange(0, 100);
    pb_->setValue(0);
    speedLayout->addWidget(pb_);
    progressText_ = new QLabel(speed);
    Register("ProgressText", progressText_);
    speedLayout->addWidget(progressText_);
    leftLayout->addWidget(speed);

    pages_ = new QTabWidget(splitter);
    Register("PageControl1", pages_);
    auto grid = [&](const char* sheet, const char* caption, const char* name, bool flash) {
        auto* page = new QWidget;
        Register(sheet, page);
        auto* layout = new QVBoxLayout(page);
        auto* view = new QTableView(page);
        Register(name, view);
        auto* model = new BufferGridModel(
            [this, flash]() -> const std::vector<uint8_t>* {
                if (!session_) return nullptr;
                return &session_->Buffer(flash ? Memory::Flash : Memory::EEPROM);
            },
            view);
        view->setModel(model);
        view->horizontalHeader()->setMinimumSectionSize(20);
        view->horizontalHeader()->setSectionsClickable(false);
        // The ASCII column takes what the window gains, so a wide window shows whole rows.
        view->horizontalHeader()->setStretchLastSection(true);
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->verticalHeader()->setDefaultSectionSize(20);
        view->verticalHeader()->setSectionsClickable(false);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(view, &QTableView::clicked, this, [this, flash](const QModelIndex& index) {
            OpenCell(flash ? Memory::Flash : Memory::EEPROM, index);
        });
        // Enter and F2 open the editor; a dropped file loads into this buffer.
        view->installEventFilter(this);
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
        layout->addWidget(view);
        pages_->addTab(page, QString::fromUtf8(caption));
        return std::pair{view, model};
    };
    std::tie(flashGrid_, flashModel_) = grid("sheetFlash", "FLASH数据区", "FlashDataBoard", true);
    std::tie(eepromGrid_, eepromModel_) =
        grid("sheetEEPROM", "EEPROM数据区", "EEPROMdataBoard", false);

    auto* autoPage = new QWidget;
    Register("TabSheet1", autoPage);
    auto* autoLayout = new QVBoxLayout(autoPage);
    auto* box = new QGroupBox(QString::fromUtf8("[自动编程]  的流程设置"), autoPage);
    Register("GBauto", box);
    auto* boxLayout = new QVBoxLayout(box);
    const std::pair<const char*, const char*> boxes[] = {
        {"isUpdateFlashFile", "1.  是否更新FLASH文件"},
        {"isUpdateEEPROMfile", "2.  是否更新EEPROM文件(如果存在)"},
        {"isEraseAll", "3.  是否进行全片擦除（FLASH+EEPROM）"},
        {"isWriteFlash", "4.  是否写FLASH"},
        {"isWriteEEPROM", "5.  是否写EEPROM(如果存在)"},
        {"isVerifyAfter", "6.  写后校验(读回全部写入的数据并比较)"},
        {"isWriteFileFuses", "7.  是否写ELF文件中的熔丝位/锁定位(如果存在)"},
        {"isCheckBlank", "8.  校验时检查文件以外的地址为空"},
    };
    for (const auto& [name, caption] : boxes) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), box);
        Register(name, c);
        connect(c, &QCheckBox::toggled, this, &TMain::AutoBoxChanged);
        boxLayout->addWidget(c);
    }
    qobject_cast<QCheckBox*>(Find("isEraseAll"))->setChecked(true);
    qobject_cast<QCheckBox*>(Find("isWriteFlash"))->setChecked(true);
    qobject_cast<QCheckBox*>(Find("isWriteEEPROM"))->setChecked(true);
    qobject_cast<QCheckBox*>(Find("isVerifyAfter"))->setChecked(true);
    // Not part of the stored plan: a bench session's choice.
    auto* repeat = new QCheckBox(
        QString::fromUtf8("9.  连续编程：编完一片后等待换上下一片（停止键结束）"), box);
    Register("isRepeat", repeat);
    boxLayout->addWidget(repeat);
    memo1_ = new QPlainTextEdit(box);
    Register("Memo1", memo1_);
    memo1_->setReadOnly(true);
    boxLayout->addWidget(memo1_, 1);
    autoLayout->addWidget(box);
    pages_->addTab(autoPage, QString::fromUtf8("[自动编程]  的流程设置"));
    pages_->setCurrentWidget(autoPage);

    splitter->addWidget(left);
    splitter->addWidget(pages_);
    // The grids take what the window gains; the board and its panels keep their width.
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setCollapsible(1, false);
    setCentralWidget(splitter);

    auto* bar = statusBar();
    Register("StatusBar1", bar);
    const int widths[3] = {100, 550, 50};
    const std::string_view names[3] = {"StatusBar1.0", "StatusBar1.1", "StatusBar1.2"};
    for (int i = 0; i < 3; ++i) {
        status_[i] = new QLabel(bar);
        status_[i]->setMinimumWidth(widths[i]);
        byName_[std::string(names[i])] = status_[i];
        status_[i]->setObjectName(QString("StatusPanel%1").arg(i));
        bar->addWidget(status_[i], i == 1 ? 1 : 0);
    }
    // The port back end in use, beside the three panels.
    auto* port = new QLabel(bar);
    port->setObjectName("StatusPort");
    bar->addPermanentWidget(port);
}

bool TMain::Initialize(QString& error) {
    // No language is chosen before the database is read: its failures are said in English.
    auto opened = db::Database::Open(options_.DatabasePath);
    if (!opened) {
        error = QString::fromStdString(opened.Error().Text(Language::English));
        return false;
    }
    db_ = std::move(*opened);
    // Without --lpt the stored LPT names the port: read before any device is opened.
    core::PortOptions portOptions = options_.Port;
    if (portOptions.Lpt == 0) portOptions.Lpt = core::StoredLpt(*db_);
    auto ports = core::PortSet::Open(portOptions);
    if (!ports) {
        error = QString::fromStdString(ports.Error().Text(Language::English));
        return false;
    }
    ports_ = std::move(ports).Value();
    session_ = std::make_unique<core::Session>(*this, *db_, *ports_);
    // --lpt names the connector the adapter is on; it wins over the stored choice.
    core::StartOptions start;
    start.PortBaseOverride = core::BaseForLpt(options_.Port.Lpt);
    if (auto started = session_->Start(start); !started) {
        error = QString::fromStdString(started.Error().Args.front());
        return false;
    }
    if (ports_->FellBack()) {
        AppendLine({});
        AppendLine(QString::fromStdString(TrFormat("Gui.Simulated", state_.Lang(),
                                                   ports_->FallBackReason().Text(state_.Lang()))));
    }
    ApplyLanguage();
    ApplyState(state_);
    if (!options_.WindowStatePath.isEmpty()) {
        const QSettings kept(options_.WindowStatePath, QSettings::IniFormat);
        const QByteArray geometry = kept.value("window/geometry").toByteArray();
        if (!geometry.isEmpty()) restoreGeometry(geometry);
        lastDir_ = kept.value("window/folder").toString();
        recent_[0] = kept.value("recent/flash").toStringList().mid(0, kRecentFiles);
        recent_[1] = kept.value("recent/eeprom").toStringList().mid(0, kRecentFiles);
    }
    return true;
}

void TMain::ShowPortInStatus() {
    auto* port = findChild<QLabel*>("StatusPort");
    if (!port || !ports_ || !session_) return;
    const Language lang = state_.Lang();
    std::string text;
    if (sim::Bench* bench = ports_->GetBench()) {
        // A bench standing in for a missing port is named as a bench, never as a port.
        text = TrFormat("Gui.StatusBench", lang, bench->Name());
    } else if (ports_->Simulated()) {
        text = Tr("Gui.StatusEmpty", lang);
    } else {
        text = TrFormat("Gui.StatusPort", lang, ports_->Describe());
    }
    port->setText(QString::fromStdString(text));
}

// ---- View ----

void TMain::AppendLine(const QString& line) {
    msgboard_->appendPlainText(line);
    msgboard_->verticalScrollBar()->setValue(msgboard_->verticalScrollBar()->maximum());
}

void TMain::Say(const Message& line) {
    AppendLine(Text(line));
}

void TMain::ClearBoard() {
    msgboard_->clear();
}

void TMain::SetLabel(std::string_view name, const QString& text) {
    if (auto* l = qobject_cast<QLabel*>(Find(name))) l->setText(text);
}

void TMain::SetEnabled(std::string_view control, bool enabled) {
    QObject* o = Find(control);
    if (auto* m = qobject_cast<QMenu*>(o)) {
        m->setEnabled(enabled);
        m->menuAction()->setEnabled(enabled);
    } else if (auto* a = qobject_cast<QAction*>(o)) {
        a->setEnabled(enabled);
    } else if (auto* w = qobject_cast<QWidget*>(o)) {
        w->setEnabled(enabled);
    }
}

void TMain::SetChecked(std::string_view control, bool checked) {
    QObject* o = Find(control);
    if (auto* a = qobject_cast<QAction*>(o)) {
        a->setChecked(checked);
    } else if (auto* c = qobject_cast<QCheckBox*>(o)) {
        const QSignalBlocker quiet(c);
        c->setChecked(checked);
    }
}

void TMain::StateChanged(const core::SessionState& state) {
    const bool languageChanged = state.LanguageCode != state_.LanguageCode;
    const bool wasBusy = state_.Busy;
    // The status bar names the files loaded for the chip in hand: a chip change forgets the
    // last chip's until a file is loaded again.
    if (state.ChipName != state_.ChipName) filesShown_ = {false, false};
    if (state.FlashFile != state_.FlashFile) filesShown_[0] = true;
    if (state.EEPROMFile != state_.EEPROMFile) filesShown_[1] = true;
    state_ = state;
    if (languageChanged) ApplyLanguage();
    ApplyState(state);
    if (state.Busy && !wasBusy) breath_.restart();
    if (wasBusy && !state.Busy && phaseClock_.isValid()) ShowProgressText();  // the last count
    // A close asked for during the run (a signal, the session ending) happens now.
    if (wasBusy && !state.Busy && closeWhenIdle_) QTimer::singleShot(0, this, &TMain::RequestClose);
}

void TMain::ApplyState(const core::SessionState& s) {
    using core::AdapterKind;
    const bool flash = s.ChipReady && s.HasFlash;
    const bool eeprom = s.ChipReady && s.HasEEPROM;
    std::map<std::string_view, bool> enabled = {
        {"Mfile", s.ChipReady},
        {"Moper", s.ChipReady},
        {"MSearchChip", s.SearchAllowed()},
        {"NormalBar", s.SearchAllowed()},
        {"FlashToolBar", flash},
        {"FlashDataBoard", flash},
        {"MopenFlashFile", flash},
        {"MsaveFlash", flash},
        {"MsaveFlashHex", flash},
        {"MFlash", flash},
        {"EEPROMToolBar", eeprom},
        {"EEPROMdataBoard", eeprom},
        {"MopenEEPROMfile", eeprom},
        {"MsaveEEProm", eeprom},
        {"MsaveEEPromHex", eeprom},
        {"Meeprom", eeprom},
        // The Willem EPROM3 mode needs an adapter of the second generation (or a cable).
        {"MEEProm3", s.Adapter.Kind != AdapterKind::Gen1},
        {"SbtnEEProm3", s.Adapter.Kind != AdapterKind::Gen1},
    };
    // While an operation runs, or a loop waits for the next chip, nothing may start another one.
    const bool busy = s.Busy || looping_;
    for (const char* name : kOperationControls) {
        auto [it, added] = enabled.emplace(name, true);
        if (busy) it->second = false;
    }
    for (const auto& [name, on] : enabled) SetEnabled(name, on);
    SetEnabled("Mstop", busy);

    const std::pair<const char*, bool> checked[] = {
        {"Mchinese", s.LanguageCode == 2},
        {"Menglish", s.LanguageCode == 1},
        {"Msound", s.Sound},
        {"Mp1", s.Lpt == 1},
        {"Mp2", s.Lpt == 2},
        {"Mp3", s.Lpt == 3},
        {"MisRunProgram", s.RunProgram},
        {"MisautoVerify", s.AutoVerify},
        {"Miswrite0xff", s.WriteBlank},
        {"isUpdateFlashFile", s.Plan.UpdateFlashFile},
        {"isUpdateEEPROMfile", s.Plan.UpdateEEPROMFile},
        {"isEraseAll", s.Plan.EraseAll},
        {"isWriteFlash", s.Plan.WriteFlash},
        {"isWriteEEPROM", s.Plan.WriteEEPROM},
        {"isVerifyAfter", s.Plan.VerifyAfter},
        {"isWriteFileFuses", s.Plan.WriteFileFuses},
        {"isCheckBlank", s.Plan.CheckRestBlank},
    };
    for (const auto& [name, on] : checked) SetChecked(name, on);

    SetLabel("ispstatus", Text(core::ModeStatusOf(s)));
    if (s.AdapterChecked) {
        const core::AdapterLabels labels = core::LabelsOf(s.Adapter, s.AdapterChecked);
        SetLabel("HardwareVer", Text(labels.Name));
        SetLabel("hardware1", Text(labels.Version));
        SetLabel("hardware2", Text(labels.Detail));
    }
    const Language lang = s.Lang();
    if (!s.ChipName.empty())
        status_[0]->setText(QString::fromStdString(TrFormat("CoreStatusChip", lang, s.ChipName)));
    status_[1]->setText(
        filesShown_[0] && !s.FlashFile.empty()
            ? QString::fromStdString(TrFormat("CoreStatusFlashFile", lang, s.FlashFile))
            : QString());
    status_[2]->setText(
        filesShown_[1] && !s.EEPROMFile.empty()
            ? QString::fromStdString(TrFormat("CoreStatusEEPROMFile", lang, s.EEPROMFile))
            : QString());
    ShowPortInStatus();
    speedValue_->setText(
        QString::fromStdString(TrFormat("Gui.SpeedValue", lang, s.Speed, core::SckText(s.Speed))));
    if (speedbar_->value() != s.Speed) {
        const QSignalBlocker quiet(speedbar_);  // the session already told the engine
        speedbar_->setValue(s.Speed);
    }
}

void TMain::SetProgressMax(int32_t total, const Message& phase) {
    counter_.Phase(phase);
    pb_->setRange(0, std::max(total, 1));
    pb_->setValue(0);
    phase_ = Text(phase);
    phaseClock_.start();
    ShowProgressText();
}

namespace {

QString Duration(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

void TMain::ShowProgressText() {
    const qint64 elapsed = phaseClock_.isValid() ? phaseClock_.elapsed() : 0;
    const int done = pb_->value();
    const int total = pb_->maximum();
    // The rate so far stands for the rest: bytes of one phase take about the same time.
    const QString left = done > 0 ? Duration(elapsed * (total - done) / done) : "–";
    progressText_->setText(QString::fromStdString(
        TrFormat("Gui.Progress", state_.Lang(), phase_.toStdString(), done, total,
                 Duration(elapsed).toStdString(), left.toStdString())));
}

void TMain::SetProgress(int32_t position) {
    counter_.Position(position);
    pb_->setValue(std::min(position, pb_->maximum()));
}

void TMain::Breathe() {
    // Repaint and take clicks now and then, not after every byte: event processing costs more
    // than a byte on the simulated bench.
    if (breath_.elapsed() < 30) return;
    ShowProgressText();
    QCoreApplication::processEvents();
    breath_.restart();
}

void TMain::ShowBuffer(Memory memory, bool bringToFront) {
    if (!session_) return;
    const bool flash = memory == Memory::Flash;
    BufferGridModel* model = flash ? flashModel_ : eepromModel_;
    model->SetMode(flash ? FlashGridMode(session_->Chip().CurrentMethodCode) : GridMode::Byte);
    model->Refresh();
    FitColumns(flash ? flashGrid_ : eepromGrid_, model->Mode());
    if (bringToFront)
        pages_->setCurrentWidget(
            qobject_cast<QWidget*>(Find(flash ? "sheetFlash" : "sheetEEPROM")));
}

void TMain::PlaySound(core::SoundName sound) {
    switch (sound) {
        case core::SoundName::Detect:
            sounds_->Play("detect");
            break;
        case core::SoundName::Error:
            sounds_->Play("err");
            break;
        case core::SoundName::Done:
            sounds_->Play("ok");
            break;
    }
}

bool TMain::Ask(const Message& question, QuestionKind kind) {
    const QString q = Text(question);
    if (Question) return Question(q);
    if (kind == QuestionKind::Routine)
        return QMessageBox::information(this, windowTitle(), q,
                                        QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    // A plain Enter or Escape gives the answer that destroys nothing: No where a Yes can cost
    // data or the chip's serial access, Yes to "terminate?".
    QMessageBox box(QMessageBox::Question, windowTitle(), q, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setObjectName("QuestionBox");
    const auto harmless = kind == QuestionKind::StopsOperation ? QMessageBox::Yes : QMessageBox::No;
    box.setDefaultButton(harmless);
    box.setEscapeButton(harmless);
    return box.exec() == QMessageBox::Yes;
}

void TMain::Inform(const Message& text) {
    const QString q = Text(text);
    if (Information) return Information(q);
    QMessageBox::information(this, windowTitle(), q);
}

int TMain::ChooseLanguage() {
    if (LanguageChooser) return LanguageChooser();
    TLanguageFrm dialog(this);
    dialog.exec();
    return dialog.LanguageCode();
}

std::optional<std::string> TMain::PickToolPath(int mode) {
    (void)mode;
    const QString file = ChooseFile(T("Gui.PathDialogTitle"), {T("Gui.AllFiles")}, false);
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
}

// ---- language ----

void TMain::ApplyLanguage() {
    if (!session_) return;
    const bool english = state_.LanguageCode == 1;
    const bool chinese = state_.LanguageCode == 2;
    // The file dialogs and question boxes are Qt's: their buttons and labels follow too.
    QCoreApplication::removeTranslator(&qtTexts_);
    if (chinese &&
        qtTexts_.load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts_);
    auto apply = [&](Language lang) {
        // Before the captions: SetCaption below replaces the stop button's text too.
        for (const char* name : kCaptioned) {
            QObject* o = Find(name);
            const std::string key = std::string("Cap.") + name;
            if (o) SetCaption(o, QString::fromStdString(Tr(key, lang)));
        }
        for (int i = 0; i < pages_->count(); ++i) {
            const std::string key = "Cap." + pages_->widget(i)->objectName().toStdString();
            pages_->setTabText(i, QString::fromStdString(Tr(key, lang)));
        }
        setWindowTitle(QString::fromStdString(Tr("Cap.TMain", lang)));
        for (const auto& [button, item] : kButtonTips) {
            if (auto* a = qobject_cast<QAction*>(Find(button))) {
                const std::string key = std::string("Cap.") + item;
                a->setToolTip(QString::fromStdString(Tr(key, lang)));
            }
        }
        for (const auto& [button, key] : kModeTips)
            if (auto* a = qobject_cast<QAction*>(Find(button)))
                a->setToolTip(QString::fromStdString(Tr(key, lang)));
        for (const char* name :
             {"MsaveFlashHex", "MsaveEEPromHex", "MverifyFlash", "MverifyEEPROM", "MportTest",
              "Mstop", "Mmanual", "MgoTo", "MsaveLog", "Mrecent", "Mserial", "isRepeat"}) {
            SetCaption(Find(name), QString::fromStdString(Tr(std::string("Gui.") + name, lang)));
        }
    };
    if (english) {
        apply(Language::English);
        memo1_->clear();
        // Alt and a letter opens a menu: the first letter of each title not taken yet.
        QString taken;
        for (QAction* top : menuBar()->actions()) {
            QString title = top->text().remove('&');  // the language menu keeps its title
            for (int i = 0; i < title.size(); ++i) {
                const QChar c = title[i].toLower();
                if (!c.isLetter() || c.unicode() > 0x7F || taken.contains(c)) continue;
                taken += c;
                title.insert(i, '&');
                break;
            }
            top->setText(title);
        }
    }
    if (chinese) {
        apply(Language::Chinese);
        QStringList lines;
        // The heading, then one note for each of the tab's nine boxes.
        for (int i = 1; i <= 10; ++i)
            lines << QString::fromStdString(Tr("Memo1." + std::to_string(i), Language::Chinese));
        memo1_->setPlainText(lines.join('\n'));
    }
}

// ---- handlers ----

void TMain::MchineseClick() {
    session_->SwapLanguage();
}

void TMain::MenglishClick() {
    session_->SwapLanguage();
}

void TMain::MmcuClick() {
    (void)session_->SwitchMode(1);
}
void TMain::MalteraClick() {
    (void)session_->SwitchMode(2);
}
void TMain::MxilinxClick() {
    (void)session_->SwitchMode(3);
}
void TMain::MLatticeClick() {
    (void)session_->SwitchMode(4);
}
void TMain::ARM1Click() {
    (void)session_->SwitchMode(6);
}
void TMain::MEEProm3Click() {
    (void)session_->SwitchMode(5);
}
void TMain::SbtnEEProm3Click() {
    MEEProm3Click();
}
void TMain::SpeedButton13Click() {
    ARM1Click();
}
void TMain::MisRunProgramClick() {
    session_->SetRunProgram(!state_.RunProgram);
}
void TMain::MmcuPathClick() {
    (void)session_->SetToolPath(1);
}
void TMain::MalteraPathClick() {
    (void)session_->SetToolPath(2);
}
void TMain::MxilinxPathClick() {
    (void)session_->SetToolPath(3);
}
void TMain::MlatticePathClick() {
    (void)session_->SetToolPath(4);
}
void TMain::MARMpathClick() {
    (void)session_->SetToolPath(6);
}
void TMain::Meprom3PathClick() {
    (void)session_->SetToolPath(5);
}
void TMain::MclearClick() {
    ClearBoard();
}
void TMain::MsupportClick() {
    session_->ShowSupport();
}
void TMain::MquitClick() {
    close();
}
void TMain::SpeedButton10Click() {
    close();
}

QString TMain::ChooseFile(const QString& title, const QStringList& filters, bool save,
                          const QString& suffix, QString* chosenFilter) {
    // A dialog object rather than the static helpers: a name typed without a folder is taken in
    // the folder the dialog shows, and the last folder is offered again.
    QFileDialog dialog(this, title, lastDir_, filters.join(";;"));
    dialog.setObjectName(save ? "SaveDialog1" : "OpenDialog1");
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    if (save && !lastSaveName_.isEmpty()) dialog.selectFile(lastSaveName_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString file = dialog.selectedFiles().constFirst();
    lastDir_ = QFileInfo(file).absolutePath();
    if (chosenFilter) *chosenFilter = dialog.selectedNameFilter();
    return file;
}

void TMain::OpenBuffer(Memory memory) {
    const bool flash = memory == Memory::Flash;
    const QString filter =
        OpenFilter(Tr(flash ? "FlashFileFilter" : "EEPROMFileFilter", state_.Lang()));
    const QString title = T(flash ? "Gui.OpenFlashTitle" : "Gui.OpenEEPROMTitle");
    const QString file = ChooseFile(title, {filter, T("Gui.AllFiles")}, false);
    if (!file.isEmpty()) LoadInto(memory, file);
}

void TMain::LoadInto(Memory memory, const QString& file) {
    // A failed load leaves the buffer as it was; the grid is brought up to show that.
    if (!session_->LoadFile(memory, file.toStdString())) {
        ShowBuffer(memory, true);
        return;
    }
    filesShown_[memory == Memory::Flash ? 0 : 1] = true;  // the same file again counts too
    ApplyState(state_);
    QStringList& list = recent_[memory == Memory::Flash ? 0 : 1];
    const QString path = QFileInfo(file).absoluteFilePath();
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > kRecentFiles) list.removeLast();
}

void TMain::FillRecentMenu() {
    auto* menu = qobject_cast<QMenu*>(Find("Mrecent"));
    menu->clear();
    for (const Memory memory : {Memory::Flash, Memory::EEPROM}) {
        const bool flash = memory == Memory::Flash;
        const QStringList& list = recent_[flash ? 0 : 1];
        if (list.isEmpty() || !(flash ? state_.HasFlash : state_.HasEEPROM)) continue;
        if (!menu->isEmpty()) menu->addSeparator();
        for (const QString& path : list) {
            QAction* a = menu->addAction(QString("%1  %2").arg(flash ? "FLASH" : "EEPROM", path));
            connect(a, &QAction::triggered, this, [this, memory, path] { LoadInto(memory, path); });
        }
    }
}

void TMain::MopenFlashFileClick() {
    OpenBuffer(Memory::Flash);
}
void TMain::MopenEEPROMfileClick() {
    OpenBuffer(Memory::EEPROM);
}

void TMain::SaveBuffer(Memory memory, bool hex) {
    const QString masks = QString::fromStdString(Tr("SaveFileFilter", Language::English));
    const QString filter = hex ? T("Gui.HexFilter") : masks + " (" + masks + ")";
    // The plain save offers every format the buffer saves as; a name without an extension
    // takes the chosen filter's.
    const QStringList filters =
        hex ? QStringList{filter} : QStringList{filter, T("Gui.BinFilter"), T("Gui.HexFilter")};
    QString chosen;
    QString file = ChooseFile({}, filters, true, hex ? "hex" : QString(), &chosen);
    if (file.isEmpty()) return;
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (hex && suffix != "hex" && suffix != "eep") file += ".hex";
    if (!hex && suffix.isEmpty())
        file += chosen == T("Gui.BinFilter")   ? ".bin"
                : chosen == T("Gui.HexFilter") ? ".hex"
                                               : ".idf";
    lastSaveName_ = file;
    (void)session_->SaveFile(memory, file.toStdString());
}

void TMain::MsaveFlashClick() {
    SaveBuffer(Memory::Flash, false);
}
void TMain::MsaveEEPromClick() {
    SaveBuffer(Memory::EEPROM, false);
}
void TMain::MsaveFlashHexClick() {
    SaveBuffer(Memory::Flash, true);
}
void TMain::MsaveEEPromHexClick() {
    SaveBuffer(Memory::EEPROM, true);
}

void TMain::MautosearchClick() {
    (void)session_->AutoSearch();
}

void TMain::MmaunalClick() {
    if (!ChipChooser) return;
    if (auto chip = ChipChooser()) session_->SelectChip(*chip);
}

void TMain::MautoProgramClick() {
    RunProduction();
}

void TMain::MearseClick() {
    OfferChipFound(session_->Erase());
}
void TMain::MreadFlashClick() {
    OfferChipFound(session_->Read(Memory::Flash));
}
void TMain::MwriteFlashClick() {
    OfferChipFound(session_->Write(Memory::Flash));
}
void TMain::MreadeepromClick() {
    OfferChipFound(session_->Read(Memory::EEPROM));
}
void TMain::MwriteEEPromClick() {
    OfferChipFound(session_->Write(Memory::EEPROM));
}
void TMain::MverifyFlashClick() {
    OfferChipFound(session_->Verify(Memory::Flash));
}
void TMain::MverifyEEPROMClick() {
    OfferChipFound(session_->Verify(Memory::EEPROM));
}

void TMain::OfferChipFound(const Status& outcome) {
    if (!session_ || outcome.Key() != "CoreWrongChip") return;
    const std::optional<ChipRecord> found = session_->ChipFound();
    if (!found) return;
    const Message offer =
        Msg("Gui.SelectChipFound", Text(outcome.Error()).toStdString(), found->Name);
    if (Ask(offer, QuestionKind::Routine)) session_->SelectChip(*found);
}

void TMain::MotherClick() {
    if (ConfigDialog) ConfigDialog();
}

void TMain::MresetClick() {
    // The reset itself is silent on the board: say that it happened.
    if (session_->ResetTarget()) {
        AppendLine({});
        AppendLine(T("Gui.ResetDone"));
    }
}
void TMain::MisautoVerifyClick() {
    session_->SetAutoVerify(!state_.AutoVerify);
}
void TMain::Miswrite0xffClick() {
    session_->SetWriteBlank(!state_.WriteBlank);
}
void TMain::Mp1Click() {
    session_->ChoosePort(1);
}
void TMain::Mp2Click() {
    session_->ChoosePort(2);
}
void TMain::Mp3Click() {
    session_->ChoosePort(3);
}

void TMain::ListUsbAdapters(QMenu& menu) {
    menu.clear();
    const std::vector<core::PortChoice> found = core::ListPorts();
    if (found.empty())
        menu.addAction(QString::fromStdString(Tr("Gui.UsbNone", state_.Lang())))->setEnabled(false);
    for (const core::PortChoice& c : found) {
        QAction* a = menu.addAction(QString::fromStdString(c.Port + "  " + c.Description));
        a->setCheckable(true);
        a->setChecked(c.Port == options_.Port.Port);
        connect(a, &QAction::triggered, this, [this, port = c.Port] { UseUsbAdapter(port); });
    }
}

void TMain::UseUsbAdapter(const std::string& port) {
    core::PortOptions options = options_.Port;
    options.Port = port;
    options.FallBackToBench = false;  // the adapter chosen or nothing
    auto opened = core::PortSet::Open(options);
    if (!opened) {
        AppendLine(Text(opened.Error()));
        return;
    }
    // The session goes before the set it drives.
    session_.reset();
    if (const Status closed = ports_->Close(); !closed.Ok()) AppendLine(Text(closed.Error()));
    ports_ = std::move(opened).Value();
    options_.Port = options;
    session_ = std::make_unique<core::Session>(*this, *db_, *ports_);
    if (auto started = session_->Start({}); !started)
        AppendLine(QString::fromStdString(started.Error().Args.front()));
    ApplyState(state_);
    ShowPortInStatus();
}

void TMain::MsoundClick() {
    session_->SetSound(!state_.Sound);
}

void TMain::MaboutClick() {
    // Created once, shown modally each time.
    if (!aboutBox_) aboutBox_ = new TAboutBox(this);
    aboutBox_->ApplyLanguage(session_ && state_.LanguageCode == 2);
    aboutBox_->exec();
}

void TMain::MportTestClick() {
    if (PortTestPanel) PortTestPanel();
}

void TMain::speedbarChange(int position) {
    if (session_) session_->SetSpeed(position);
}

void TMain::SpeedButton5Click() {
    const QUrl manual = ManualUrl();
    const bool opened = ManualOpener ? ManualOpener(manual) : QDesktopServices::openUrl(manual);
    if (opened) return;
    // No browser answered: the file is still there to open by hand.
    AppendLine({});
    AppendLine(QString::fromStdString(
        TrFormat("Gui.ManualNoBrowser", state_.Lang(), manual.toLocalFile().toStdString())));
}

void TMain::MstopClick() {
    if (looping_) stopLoop_ = true;
    if (session_ && state_.Busy) session_->Stop();
}

void TMain::MgoToClick() {
    QTableView* grid = pages_->currentWidget() == Find("sheetEEPROM") ? eepromGrid_ : flashGrid_;
    if (!session_ || !grid->isEnabled() || grid->model()->rowCount() == 0) return;
    const QString text = AddressAsker
                             ? AddressAsker()
                             : QInputDialog::getText(this, T("Gui.GoToTitle"), T("Gui.GoToPrompt"),
                                                     QLineEdit::Normal);
    if (text.trimmed().isEmpty()) return;
    // The address of a cell as its row header and column header read: bytes, or words in
    // word mode.
    const std::optional<int64_t> address =
        ParseNumber(text.trimmed().toStdString(), NumberStyle::Hex);
    if (!address) return;
    const int64_t cells = int64_t{grid->model()->rowCount()} * 16;
    const int64_t at = std::clamp<int64_t>(*address, 0, cells - 1);
    if (grid == flashGrid_) pages_->setCurrentWidget(qobject_cast<QWidget*>(Find("sheetFlash")));
    const QModelIndex index = grid->model()->index(int(at / 16), int(at % 16));
    grid->setCurrentIndex(index);
    grid->scrollTo(index, QAbstractItemView::PositionAtCenter);
    grid->setFocus();
}

void TMain::MsaveLogClick() {
    const QString file = ChooseFile(
        {}, {T("Gui.LogFilter"), T("Gui.JsonLogFilter"), T("Gui.AllFiles")}, true, "txt");
    if (file.isEmpty()) return;
    // .json and .jsonl take the machine-readable log of the auto programmings, anything else
    // the board's words.
    const QString suffix = QFileInfo(file).suffix().toLower();
    const QByteArray text = suffix == "json" || suffix == "jsonl"
                                ? QByteArray::fromStdString(jsonLog_)
                                : msgboard_->toPlainText().toUtf8() + '\n';
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        out.write(text) < 0) {
        AppendLine(QString::fromStdString(
            TrFormat("Gui.LogNotSaved", state_.Lang(), out.errorString().toStdString())));
        return;
    }
    AppendLine(QString::fromStdString(TrFormat("SavedFileTo", state_.Lang(), file.toStdString())));
}

void TMain::BringToFront() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    // A question the window is waiting on (the first-start language choice, a dialog) comes
    // up with it, or the user would face a window that takes no clicks.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void TMain::AutoBoxChanged() {
    if (!session_) return;
    auto ticked = [this](const char* name) {
        return qobject_cast<QCheckBox*>(Find(name))->isChecked();
    };
    core::AutoPlan plan;
    plan.UpdateFlashFile = ticked("isUpdateFlashFile");
    plan.UpdateEEPROMFile = ticked("isUpdateEEPROMfile");
    plan.EraseAll = ticked("isEraseAll");
    plan.WriteFlash = ticked("isWriteFlash");
    plan.WriteEEPROM = ticked("isWriteEEPROM");
    plan.VerifyAfter = ticked("isVerifyAfter");
    plan.WriteFileFuses = ticked("isWriteFileFuses");
    plan.CheckRestBlank = ticked("isCheckBlank");
    session_->SetPlan(plan);
}

QAbstractItemModel* TMain::FlashModel() {
    return flashModel_;
}

void TMain::OpenCell(Memory memory, const QModelIndex& index) {
    if (!session_ || !index.isValid()) return;
    const bool flash = memory == Memory::Flash;
    const auto& buffer = session_->Buffer(memory);
    const GridMode mode = (flash ? flashModel_ : eepromModel_)->Mode();
    auto position = CellPosition(buffer.size(), mode, index.row() + 1, index.column() + 1);
    if (position && CellEditor) CellEditor(*position, flash);
}

bool TMain::DropFile(Memory memory, const QString& file) {
    QTableView* grid = memory == Memory::Flash ? flashGrid_ : eepromGrid_;
    if (!session_ || state_.Busy || !grid->isEnabled() || !IsBufferFile(file)) return false;
    LoadInto(memory, file);
    return true;
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    for (const bool flash : {true, false}) {
        QTableView* grid = flash ? flashGrid_ : eepromGrid_;
        if (!grid) continue;
        if (watched == grid && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) {
                OpenCell(flash ? Memory::Flash : Memory::EEPROM, grid->currentIndex());
                return true;
            }
        }
        if (watched != grid->viewport()) continue;
        if (event->type() == QEvent::Resize) {
            BufferGridModel* model = flash ? flashModel_ : eepromModel_;
            // After this event: the new width must be in place before the columns follow it.
            QTimer::singleShot(0, grid, [grid, model] { FitColumns(grid, model->Mode()); });
            continue;
        }
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = drag->mimeData()->urls();
            if (urls.size() == 1 && urls.front().isLocalFile() &&
                IsBufferFile(urls.front().toLocalFile()) && grid->isEnabled()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = drop->mimeData()->urls();
            if (urls.size() == 1 && urls.front().isLocalFile() &&
                DropFile(flash ? Memory::Flash : Memory::EEPROM, urls.front().toLocalFile())) {
                drop->acceptProposedAction();
            } else {
                drop->ignore();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMain::RequestClose() {
    if (looping_ && !state_.Busy) {
        // Between two chips: the loop ends at its next look at the socket, then the window closes.
        closeWhenIdle_ = true;
        return;
    }
    if (session_ && state_.Busy) {
        // A signal or the desktop session ending will not wait minutes: the operation stops
        // at its next byte, and its end comes back here.
        closeWhenIdle_ = true;
        session_->Stop();
        return;
    }
    close();
}

void TMain::ShowBusyCloseNotice() {
    // Not modal: a modal box would hold the operation still while it is open.
    if (!busyNotice_) {
        busyNotice_ = new QMessageBox(QMessageBox::Information, windowTitle(), {},
                                      QMessageBox::NoButton, this);
        busyNotice_->setObjectName("BusyCloseNotice");
        busyNotice_->setModal(false);
        busyNotice_->setWindowModality(Qt::NonModal);
        QPushButton* stop = busyNotice_->addButton(T("Gui.Mstop"), QMessageBox::RejectRole);
        stop->setObjectName("BusyCloseStop");
        connect(stop, &QPushButton::clicked, this, &TMain::MstopClick);
        busyNotice_->addButton(QMessageBox::Ok);
    }
    busyNotice_->setText(T("Gui.BusyCloseNotice"));
    busyNotice_->show();
}

void TMain::Shutdown() {
    if (!session_ || closing_) return;
    closing_ = true;
    (void)session_->SaveSettings();
    if (const Status closed = ports_->Close(); !closed.Ok()) AppendLine(Text(closed.Error()));
    if (!options_.WindowStatePath.isEmpty()) {
        QSettings kept(options_.WindowStatePath, QSettings::IniFormat);
        kept.setValue("window/geometry", saveGeometry());
        if (!lastDir_.isEmpty()) kept.setValue("window/folder", lastDir_);
        kept.setValue("recent/flash", recent_[0]);
        kept.setValue("recent/eeprom", recent_[1]);
    }
}

void TMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    // On a narrow screen the board gives up width first, so the grids keep a whole row.
    const int wanted = RowWidth(GridFont(), GridMode::Word) + 120;
    const int board = std::clamp(width() - wanted, panel1_->minimumSizeHint().width(),
                                 panel1_->sizeHint().width());
    if (auto* splitter = findChild<QSplitter*>("Splitter1"))
        splitter->setSizes({board, std::max(width() - board, 1)});
}

void TMain::closeEvent(QCloseEvent* event) {
    if (session_ && (state_.Busy || looping_)) {
        // Leaving in the middle of a write would leave the chip half programmed: the window
        // closes when the operation ends, or sooner when the user stops it.
        if (!closeWhenIdle_) {
            closeWhenIdle_ = true;
            ShowBusyCloseNotice();
        }
        event->ignore();
        return;
    }
    if (busyNotice_) busyNotice_->hide();
    Shutdown();
    event->accept();
}

}  // namespace tondrel::gui
