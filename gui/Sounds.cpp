#include "gui/Sounds.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace tondrel::gui {

Sounds::Sounds() = default;
Sounds::~Sounds() = default;

void Sounds::Play(std::string_view name) {
    ++played_[std::string(name)];
    // No audio output (a headless session, a machine without sound): creating an effect there
    // only produces warnings, so nothing is played and nothing is said.
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == "offscreen" ||
        QMediaDevices::audioOutputs().isEmpty())
        return;
    auto it = effects_.find(name);
    if (it == effects_.end()) {
        auto effect = std::make_unique<QSoundEffect>();
        effect->setSource(
            QUrl(QString("qrc:/wav/%1.wav").arg(QString::fromUtf8(name.data(), int(name.size())))));
        it = effects_.emplace(std::string(name), std::move(effect)).first;
    }
    it->second->play();
}

int Sounds::Played(std::string_view name) const {
    auto it = played_.find(name);
    return it == played_.end() ? 0 : it->second;
}

}  // namespace tondrel::gui
