#include "ui/qt_message_pump.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "exec/message_window.h"

namespace orvik {

// What the wake-up hook shares with the pump: it may be called from another thread just as
// the pump goes away, so it reaches the pump only through the lock.
struct QtMessagePump::Shared {
  std::mutex mutex;
  QObject* target = nullptr;  // lives on the user-interface thread
  QtMessagePump* pump = nullptr;
  // One run scheduled at a time is enough: a run takes everything queued so far.
  std::atomic<bool> scheduled{false};
};

namespace {

// Asks the Qt loop for one run of the queue unless one is asked for already.
void schedule(const std::shared_ptr<QtMessagePump::Shared>& shared) {
  if (shared->scheduled.exchange(true)) {
    return;
  }
  std::lock_guard lock(shared->mutex);
  if (shared->target == nullptr) {
    return;
  }
  QMetaObject::invokeMethod(
      shared->target,
      [shared] {
        // Cleared first, so that a message queued while this run goes on schedules another.
        shared->scheduled = false;
        if (shared->pump != nullptr) {
          shared->pump->runPending();
        }
      },
      Qt::QueuedConnection);
}

}  // namespace

QtMessagePump::QtMessagePump() : shared_(std::make_shared<Shared>()) {
  shared_->target = new QObject();
  shared_->pump = this;
  std::weak_ptr<Shared> weak = shared_;
  currentThreadQueue().setWakeup([weak] {
    if (const std::shared_ptr<Shared> shared = weak.lock()) {
      schedule(shared);
    }
  });
  // Whatever was queued before the loop was bound.
  if (!currentThreadQueue().empty()) {
    schedule(shared_);
  }
}

QtMessagePump::~QtMessagePump() {
  currentThreadQueue().setWakeup(nullptr);
  QObject* target = nullptr;
  {
    std::lock_guard lock(shared_->mutex);
    target = shared_->target;
    shared_->target = nullptr;
    shared_->pump = nullptr;
  }
  // Invocations still queued for the target are dropped with it.
  delete target;
}

void QtMessagePump::runPending() {
  currentThreadQueue().processPending();
  // By id: an observer may add or remove observers while the list is walked.
  std::vector<int> ids;
  for (const auto& entry : observers_) {
    ids.push_back(entry.first);
  }
  for (const int id : ids) {
    const auto found = std::find_if(observers_.begin(), observers_.end(),
                                    [id](const auto& entry) { return entry.first == id; });
    if (found != observers_.end()) {
      const Observer observer = found->second;
      observer();
    }
  }
}

int QtMessagePump::addObserver(Observer observer) {
  const int id = ++nextObserver_;
  observers_.emplace_back(id, std::move(observer));
  return id;
}

void QtMessagePump::removeObserver(int id) {
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace orvik
