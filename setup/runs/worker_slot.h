// The worker thread of a long operation (UpdateWorker, BackupWorker) and the
// rules the progress pages rely on: at most one runs per slot; it touches no
// window and reports only by posting; when its page closes, the page waits up
// to 2000 ms for it and then lets it go, and from that moment nothing it does
// reaches the page any more.
//
// A worker let go is asked to stop: its pauses end at once and it returns at
// its next step. A device call it is inside finishes first (so it is never
// left holding DeviceAccessLock); its results are dropped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "setup/link/message_sink.h"

namespace nuva {

class WorkerContext {
  public:
    bool StopRequested() const;
    // Pauses a nominal number of milliseconds on the scaled clock; false when
    // the worker was asked to stop meanwhile (it should then return).
    bool Pause(uint32_t milliseconds);
    // Posts to the page while the page still listens.
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam);
    // The same gate as a sink, for the device link's progress posts.
    MessageSink* Sink();

    struct State;
    explicit WorkerContext(std::shared_ptr<State> state);

  private:
    std::shared_ptr<State> state_;
};

class WorkerSlot {
  public:
    // Makes the thread; a launcher that fails stands for a thread that cannot
    // be created (tests use it).
    using Launcher = std::function<bool(std::function<void()>)>;

    WorkerSlot();
    explicit WorkerSlot(Launcher launcher);
    ~WorkerSlot();
    WorkerSlot(const WorkerSlot&) = delete;
    WorkerSlot& operator=(const WorkerSlot&) = delete;

    // Starts `body` on its own thread, posting to `page`. Returns false when
    // no thread could be made (nothing runs then).
    bool Start(MessageSink& page, std::function<void(WorkerContext&)> body);

    // The page's clean-up: waits up to `waitMs` (nominal) for the worker to
    // end; when it still runs, closes its gate, asks it to stop, lets it go
    // and pauses 100 ms. Afterwards the slot is free.
    void Stop(uint32_t waitMs = 2000);

    bool Running() const;

  private:
    Launcher launcher_;
    std::shared_ptr<WorkerContext::State> current_;
};

}  // namespace nuva
