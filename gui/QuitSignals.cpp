#include "gui/QuitSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace tondrel::gui {

namespace {

// A signal handler may only write to a descriptor; the pair is the one thing it needs to find.
int g_wake[2] = {-1, -1};
constexpr std::array kSignals = {SIGTERM, SIGINT, SIGHUP};
struct sigaction g_previous[kSignals.size()];

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_wake[0], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit, QObject* parent)
    : QObject(parent), onQuit_(std::move(onQuit)) {
    if (g_wake[0] >= 0) return;  // another instance holds the signals
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_wake) != 0) {
        g_wake[0] = g_wake[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(g_wake[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_wake[1], buffer, sizeof buffer) > 0) {
        }
        if (onQuit_) onQuit_();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &g_previous[i]);
}

QuitSignals::~QuitSignals() {
    if (!notifier_) return;
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    delete notifier_;
    notifier_ = nullptr;
    ::close(g_wake[0]);
    ::close(g_wake[1]);
    g_wake[0] = g_wake[1] = -1;
}

}  // namespace tondrel::gui
