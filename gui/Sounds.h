#pragma once
// The three sounds of the window ("detect", "err", "ok"), shipped with the program. A machine
// without audio output plays nothing and says nothing.
#include <QObject>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class QSoundEffect;

namespace tondrel::gui {

class Sounds {
  public:
    Sounds();
    ~Sounds();
    void Play(std::string_view name);
    // How many times each sound was asked for (for tests and for machines without audio).
    int Played(std::string_view name) const;

  private:
    std::map<std::string, std::unique_ptr<QSoundEffect>, std::less<>> effects_;
    std::map<std::string, int, std::less<>> played_;
};

}  // namespace tondrel::gui
