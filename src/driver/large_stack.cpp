#include "driver/large_stack.h"

#include <pthread.h>

#include <exception>

namespace driver {
namespace {

constexpr std::size_t kSmallestWorthwhile = std::size_t{64} << 20;

struct Job {
  const std::function<void()>* body;
  std::exception_ptr failure;
};

void* RunJob(void* argument) {
  auto* job = static_cast<Job*>(argument);
  try {
    (*job->body)();
  } catch (...) {
    job->failure = std::current_exception();
  }
  return nullptr;
}

// Starts and joins the thread; false when no thread with that stack could
// be created (nothing ran).
bool RunOnThread(Job& job, std::size_t stack_bytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attributes, stack_bytes) == 0 &&
                       pthread_create(&thread, &attributes, &RunJob, &job) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) return false;
  pthread_join(thread, nullptr);
  return true;
}

}  // namespace

std::size_t RunWithLargeStack(const std::function<void()>& body, std::size_t stack_bytes) {
  Job job{&body, nullptr};
  std::size_t used = 0;
  for (std::size_t size = stack_bytes;; size /= 2) {
    if (RunOnThread(job, size)) {
      used = size;
      break;
    }
    if (size / 2 < kSmallestWorthwhile) break;
  }
  if (used == 0) body();
  if (job.failure) std::rethrow_exception(job.failure);
  return used;
}

}  // namespace driver
