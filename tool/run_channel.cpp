#include "run_channel.h"

#include <thread>

#include "run_channel_io.h"

std::string progress_line(const RunControl& control) {
  std::string line = "progress " + std::to_string(control.done.load()) + " " + std::to_string(control.total.load());
  if (const std::string* name = control.member.load()) {
    line += ' ';
    // One line per report, whatever the name holds.
    for (char c : *name) line += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  return line + "\n";
}

struct RunChannel::Thread {
  ChannelEnds ends;
  RunControl* control = nullptr;
  std::atomic<bool> stop{false};
  std::thread thread;

  void loop() {
    bool reader_there = ends.progress != -1;
    while (!stop.load()) {
      if (ends.cancel != -1 && !control->cancelled() && channel_wait_for_cancel(ends, 100))
        control->cancel.store(true);
      else if (ends.cancel == -1 || control->cancelled())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (reader_there) reader_there = channel_send(ends, progress_line(*control));
    }
    if (reader_there) channel_send(ends, progress_line(*control));
  }
};

void RunChannel::start(RunControl& control) {
  ChannelEnds ends;
  if (thread_ || !channel_ends_from_environment(ends)) return;
  thread_ = new Thread;
  thread_->ends = ends;
  thread_->control = &control;
  thread_->thread = std::thread([t = thread_] { t->loop(); });
}

void RunChannel::stop() {
  if (!thread_) return;
  thread_->stop.store(true);
  thread_->thread.join();
  delete thread_;
  thread_ = nullptr;
}
