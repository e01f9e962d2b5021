// A first launch of qrn::launch_always_run that fails with an exception
// leaves the component unlaunched; the next call launches it. This program
// replaces the global allocation functions so that a test can make every
// allocation of its own thread fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "HLS/task.h"
#include "task/parked_component.h"

namespace {

thread_local bool fail_allocations = false;

void* allocate(std::size_t size) {
  if (fail_allocations) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

void* allocate_nothrow(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate_nothrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate_nothrow(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using qrn_test::outstanding_invocations;
using qrn_test::parked_component;
using qrn_test::parked_records;

TEST(LaunchAlwaysRun, LaunchesAgainAfterAFirstLaunchThatThrew) {
  const long before = outstanding_invocations();
  fail_allocations = true;
  EXPECT_THROW(qrn::launch_always_run<parked_component<0>>(), std::bad_alloc);
  fail_allocations = false;
  EXPECT_EQ(outstanding_invocations() - before, 0);

  qrn::launch_always_run<parked_component<0>>();
  EXPECT_EQ(outstanding_invocations() - before, 1);
  ASSERT_TRUE(parked_records[0].first_call.wait_for());
  qrn::launch_always_run<parked_component<0>>();
  EXPECT_EQ(outstanding_invocations() - before, 1);
}

}  // namespace
