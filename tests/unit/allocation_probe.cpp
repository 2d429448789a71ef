// Sees every allocation: under AddressSanitizer through its allocation
// hook; otherwise by standing in for the C library's malloc, calloc and
// realloc in this executable (libraries call them through the executable's
// definitions) and passing each call on to the C library's own.
#include "tests/unit/allocation_probe.hpp"

#include <atomic>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define PROBE_THROUGH_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PROBE_THROUGH_SANITIZER 1
#endif
#endif

#if defined(PROBE_THROUGH_SANITIZER)
// From the sanitizers' allocator interface (not every compiler ships its
// header): the hooks run after every allocation and before every free.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*on_malloc)(const volatile void*, std::size_t),
                                                         void (*on_free)(const volatile void*));
#endif

namespace allocation_probe {
namespace {

std::atomic<bool> armed{false};
std::atomic<std::size_t> largest{0};

void note(std::size_t size) {
    if (!armed.load(std::memory_order_relaxed)) return;
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

#if defined(PROBE_THROUGH_SANITIZER)
void on_malloc(const volatile void*, std::size_t size) { note(size); }
void on_free(const volatile void*) {}
[[maybe_unused]] const bool hooked = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0;
#endif

}  // namespace

Largest::Largest() {
    largest = 0;
    armed = true;
}
Largest::~Largest() { armed = false; }
std::size_t Largest::bytes() const { return largest.load(); }

}  // namespace allocation_probe

#if !defined(PROBE_THROUGH_SANITIZER)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);

void* malloc(std::size_t size) noexcept {
    allocation_probe::note(size);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    allocation_probe::note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    allocation_probe::note(size);
    return __libc_realloc(block, size);
}
}
#endif
