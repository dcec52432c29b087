#include "driver/large_stack.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

namespace driver {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

struct Job {
  const std::function<void()>* body;
  std::exception_ptr failure;
};

void* RunJob(void* argument) {
  auto* job = static_cast<Job*>(argument);
  // Nothing may leave a thread's start routine: an exception would end the
  // process with std::terminate. It is carried over to the joining thread.
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

// The size of this process's address space; 0 when /proc cannot tell.
std::uint64_t AddressSpaceUsed() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(statm, "%llu", &pages) == 1;
  std::fclose(statm);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (!read || page_size <= 0) return 0;
  return pages * static_cast<std::uint64_t>(page_size);
}

}  // namespace

std::size_t StackBytesFor(std::uint64_t address_space_limit, std::uint64_t address_space_used) {
  if (address_space_limit == kNoAddressSpaceLimit) return kLargeStackBytes;
  if (address_space_used >= address_space_limit) return 0;
  std::uint64_t stack = (address_space_limit - address_space_used) / 4;
  if (stack > kLargeStackBytes) stack = kLargeStackBytes;
  stack -= stack % kMiB;
  return stack < kSmallestStackBytes ? 0 : static_cast<std::size_t>(stack);
}

std::size_t StackBytesForThisProcess() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return StackBytesFor(kNoAddressSpaceLimit, 0);
  }
  return StackBytesFor(limit.rlim_cur, AddressSpaceUsed());
}

std::size_t RunWithLargeStack(const std::function<void()>& body, std::size_t stack_bytes) {
  Job job{&body, nullptr};
  std::size_t used = 0;
  for (std::size_t size = stack_bytes; size >= kSmallestStackBytes; size /= 2) {
    if (RunOnThread(job, size)) {
      used = size;
      break;
    }
  }
  if (used == 0) body();
  if (job.failure) std::rethrow_exception(job.failure);
  return used;
}

}  // namespace driver
