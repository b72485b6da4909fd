#include "starter/process_start.h"

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;

namespace nuva {

namespace {

// The spawn attributes and file actions, released however the start ends.
class SpawnSetup {
  public:
    SpawnSetup() {
        attrOk_ = posix_spawnattr_init(&attr_) == 0;
        actionsOk_ = posix_spawn_file_actions_init(&actions_) == 0;
    }
    ~SpawnSetup() {
        if (actionsOk_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attrOk_) {
            posix_spawnattr_destroy(&attr_);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // A fresh start: whatever descriptors, blocked signals or ignored
    // signals the launcher was handed stay with it, the way a program
    // started on the desktop inherits no handles.
    bool Prepare() {
        if (!attrOk_ || !actionsOk_) {
            return false;
        }
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0 &&
               posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
               posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }

    const posix_spawnattr_t* attr() const { return &attr_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

  private:
    posix_spawnattr_t attr_{};
    posix_spawn_file_actions_t actions_{};
    bool attrOk_ = false;
    bool actionsOk_ = false;
};

}  // namespace

bool StartDetachedProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0].empty()) {
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.Prepare()) {
        return false;
    }
    // The child is never waited for: the caller ends right after the start,
    // and the child, handed on to the system, is reaped when it ends.
    pid_t child = 0;
    return posix_spawn(&child, argv[0], setup.actions(), setup.attr(), argv.data(), environ) == 0;
}

}  // namespace nuva
