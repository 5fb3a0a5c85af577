#pragma once
// One window per user: a second start finds the first through a local socket, asks it to come
// to the front, and ends.
#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace tondrel::gui {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // name: the socket name; the default is per user.
    explicit SingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString DefaultName();
    // True when another instance answered and was asked to raise its window.
    bool RaiseRunning(int timeoutMs = 500);
    // Starts listening; onRaise runs whenever a later start asks. False when the name is taken
    // by a live instance.
    bool Listen(std::function<void()> onRaise);

  private:
    QString name_;
    QLocalServer* server_ = nullptr;
    std::function<void()> onRaise_;
};

}  // namespace tondrel::gui
