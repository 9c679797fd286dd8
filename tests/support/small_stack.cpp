#include "support/small_stack.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace host::test {
namespace {

constexpr unsigned char paint = 0xA5;

void* thread_entry(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

}  // namespace

std::optional<std::size_t> run_on_small_stack(std::size_t stack_size, const std::function<void()>& body) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t mapped = stack_size + page;
  void* region = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return std::nullopt;
  auto* base = static_cast<unsigned char*>(region);
  // The stack grows down from base + mapped towards the guard page.
  if (::mprotect(base, page, PROT_NONE) != 0) {
    ::munmap(region, mapped);
    return std::nullopt;
  }
  unsigned char* const low = base + page;
  std::memset(low, paint, stack_size);

  std::optional<std::size_t> used;
  pthread_attr_t attr;
  pthread_t thread;
  if (::pthread_attr_init(&attr) == 0) {
    if (::pthread_attr_setstack(&attr, low, stack_size) == 0 &&
        ::pthread_create(&thread, &attr, &thread_entry, const_cast<std::function<void()>*>(&body)) == 0) {
      ::pthread_join(thread, nullptr);
      std::size_t untouched = 0;
      while (untouched < stack_size && low[untouched] == paint) ++untouched;
      used = stack_size - untouched;
    }
    ::pthread_attr_destroy(&attr);
  }
  ::munmap(region, mapped);
  return used;
}

}  // namespace host::test
