#include "gui/ConfigDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "config/ConfigCommands.h"
#include "gui/TMain.h"

namespace tondrel::gui {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A layout's caption as the language shows it: the layouts hold the chips' Chinese captions, and
// the table keeps an English one beside each ("CfgCap." rows, found by the Chinese text).
std::string CaptionIn(const std::string& caption, Language lang) {
    if (lang == Language::Chinese) return caption;
    for (const MessageEntry& e : AllMessages())
        if (e.Chinese == caption && e.Key.substr(0, 7) == "CfgCap.") return std::string(e.English);
    return caption;
}

QString WindowCaption(Language lang) {
    return Q(CaptionIn(config::kWindowCaption, lang));
}

// The window's boxes, except for a question whose Yes costs more than routine: the dialog asks
// that itself, with the question icon and No as the button Enter presses.
class CarefulPrompts : public Prompts {
  public:
    CarefulPrompts(TMain& host, QWidget* parent) : host_(host), parent_(parent) {}
    bool Ask(const Message& asked, QuestionKind kind) override {
        // A question may quote a caption (a protection mode): in the question's language too.
        Message question = asked;
        const Language lang = host_.Session() ? host_.Session()->State().Lang() : Language::Chinese;
        for (std::string& arg : question.Args) arg = CaptionIn(arg, lang);
        if (kind == QuestionKind::Routine) return host_.Ask(question, kind);
        QMessageBox box(QMessageBox::Question, WindowCaption(lang), host_.Text(question),
                        QMessageBox::Yes | QMessageBox::No, parent_);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    void Inform(const Message& text) override { host_.Inform(text); }
    void Say(const Message& line) override { host_.Say(line); }

  private:
    TMain& host_;
    QWidget* parent_;
};

}  // namespace

ConfigDialog::ConfigDialog(std::unique_ptr<config::ConfigForm> form, TMain& window)
    : QDialog(&window),
      prompts_(std::make_unique<CarefulPrompts>(window, this)),
      form_(std::move(form)) {
    form_->SetPrompts(*prompts_);
    const config::LayoutDesc& layout = form_->Layout();
    setObjectName(Q(layout.ClassName));
    const Language lang = window.Session() ? window.Session()->State().Lang() : Language::Chinese;
    auto C = [lang](const std::string& caption) { return Q(CaptionIn(caption, lang)); };
    setWindowTitle(WindowCaption(lang));
    setModal(true);
    auto* outer = new QVBoxLayout(this);

    auto press = [this](const std::string& button) {
        form_->Press(button);
        Sync();
        // A write the chip did not take is said, not left to the boxes.
        const Status& outcome = form_->LastOutcome();
        if (!outcome && outcome.Key() != "CfgCancelled") prompts_->Inform(outcome.Error());
    };
    auto addButton = [&](QLayout* where, const config::ButtonDesc& b) {
        if (b.Name.empty()) return;
        auto* button = new QPushButton(C(b.Caption), this);
        button->setObjectName(Q(b.Name));
        connect(button, &QPushButton::clicked, this, [press, name = b.Name] { press(name); });
        where->addWidget(button);
    };

    size_t editIndex = 0;
    for (const config::GroupDesc& g : layout.Groups) {
        auto* group = new QGroupBox(C(g.Caption), this);
        group->setObjectName(Q(g.Name));
        auto* groupLayout = new QVBoxLayout(group);
        auto* grid = new QGridLayout;
        int cell = 0;
        for (const config::BoxDesc& b : g.Boxes) {
            auto* box = new QCheckBox(C(b.Caption), group);
            box->setObjectName(Q(b.Name));
            // The form decides whether a click changes the box (disabled boxes and the boxes
            // that write at once), so the check box only reports the click.
            connect(box, &QCheckBox::clicked, this, [this, name = b.Name] {
                form_->Click(name);
                Sync();
            });
            grid->addWidget(box, cell / 4, cell % 4);
            ++cell;
            boxes_.push_back(box);
        }
        for (const config::EditDesc& e : g.Edits) {
            auto* label = new QLabel(Q(e.Label), group);
            auto* edit = new QLineEdit(group);
            edit->setObjectName(Q(e.Name));
            edit->setMaxLength(4);
            connect(edit, &QLineEdit::textEdited, this,
                    [this, edit, i = editIndex](const QString& t) {
                        const std::string& kept = form_->SetEditText(i, t.toStdString());
                        if (Q(kept) != t) edit->setText(Q(kept));
                    });
            grid->addWidget(label, cell / 4, (cell % 4));
            ++cell;
            grid->addWidget(edit, cell / 4, (cell % 4));
            ++cell;
            edits_.push_back(edit);
            ++editIndex;
        }
        groupLayout->addLayout(grid);
        // The fields the datasheet tables (clock source, BOD level, boot size, lock modes) as
        // choices in its words, kept in step with the boxes both ways.
        for (config::AvrField& f : config::FieldsOfGroup(*form_, g)) {
            if (f.Values.empty()) continue;
            auto* row = new QHBoxLayout;
            row->addWidget(new QLabel(Q(f.Name), group));
            auto* choice = new QComboBox(group);
            choice->setObjectName(Q(g.Name + "." + f.Name));
            for (const config::FieldValue& v : f.Values)
                choice->addItem(Q(f.Digits(v.Code) + "  " + v.Words), v.Code);
            row->addWidget(choice, 1);
            groupLayout->addLayout(row);
            const size_t at = choices_.size();
            choices_.push_back({choice, &g, std::move(f)});
            connect(choice, QOverload<int>::of(&QComboBox::activated), this, [this, at](int i) {
                const FieldChoice& c = choices_[at];
                (void)config::ChooseFieldValue(*form_, *c.Group, c.Field,
                                               static_cast<uint8_t>(c.Box->itemData(i).toUInt()));
                Sync();
            });
        }
        auto* buttons = new QHBoxLayout;
        addButton(buttons, g.RefreshButton);
        addButton(buttons, g.WriteButton);
        groupLayout->addLayout(buttons);
        outer->addWidget(group);
    }
    if (layout.Modes) {
        const config::ModeGroupDesc& m = *layout.Modes;
        auto* group = new QGroupBox(C(m.Caption), this);
        group->setObjectName(Q(m.Name));
        auto* groupLayout = new QVBoxLayout(group);
        for (size_t i = 0; i < m.Modes.size(); ++i) {
            const config::ModeDesc& mode = m.Modes[i];
            auto* radio = new QRadioButton(C(mode.Caption), group);
            radio->setObjectName(Q(mode.Name));
            connect(radio, &QRadioButton::toggled, this, [this, i](bool on) {
                if (on) form_->SelectMode(i);
            });
            auto* row = new QHBoxLayout;
            row->addWidget(radio);
            if (!mode.Note.empty()) row->addWidget(new QLabel(Q(mode.Note), group));
            groupLayout->addLayout(row);
            modes_.push_back(radio);
        }
        addButton(groupLayout, m.Ok);
        outer->addWidget(group);
    }
    for (const config::LabelDesc& l : layout.Labels) {
        auto* label = new QLabel(C(l.Caption), this);
        label->setObjectName(Q(l.Name));
        label->setWordWrap(true);
        outer->addWidget(label);
    }
    auto* bottom = new QHBoxLayout;
    if (layout.CalibrationCount > 0) addButton(bottom, layout.Calibration);
    addButton(bottom, layout.Erase);
    if (!layout.Close.Name.empty()) {
        auto* close = new QPushButton(C(layout.Close.Caption), this);
        close->setObjectName(Q(layout.Close.Name));
        connect(close, &QPushButton::clicked, this, &QDialog::accept);
        bottom->addWidget(close);
    }
    outer->addLayout(bottom);

    Sync();
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::Sync() {
    for (QCheckBox* box : boxes_) {
        const std::string name = box->objectName().toStdString();
        if (!form_->HasBox(name)) continue;
        const config::BoxState& s = form_->Box(name);
        box->setChecked(s.Ticked);
        box->setEnabled(s.Enabled);
    }
    for (const FieldChoice& c : choices_) {
        const QSignalBlocker quiet(c.Box);
        c.Box->setCurrentIndex(c.Box->findData(config::FieldCode(*form_, *c.Group, c.Field)));
    }
    for (size_t i = 0; i < edits_.size(); ++i) edits_[i]->setText(Q(form_->EditText(i)));
    if (form_->SelectedMode() < modes_.size()) {
        QRadioButton* r = modes_[form_->SelectedMode()];
        const QSignalBlocker quiet(r);
        r->setChecked(true);
    }
}

}  // namespace tondrel::gui
