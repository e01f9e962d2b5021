// The stream's storage ring on its own: random appends and takes checked
// against a std::deque, with and without a bound, for elements relocated one
// by one and for trivially copyable ones (grown in place); the capacity never passes
// the bound; and an append whose growth fails part-way through relocating
// leaves every element, its sideband and the instance count as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "HLS/internal/stream_ring.h"

namespace qrn_test {
namespace {

using qrn::internal::packet_sideband;
using qrn::internal::stream_ring;

struct copy_failure {};

// Counts its live instances; its copy (the ring relocates by copy, since
// the move may throw) throws when the shared countdown reaches zero.
class counted {
 public:
  explicit counted(int value) : value_(std::make_shared<int>(value)) { ++alive(); }
  counted(const counted& other) : value_(other.value_) {
    if (countdown() >= 0 && countdown()-- == 0) {
      throw copy_failure{};
    }
    ++alive();
  }
  counted(counted&& other) noexcept(false) : counted(static_cast<const counted&>(other)) {}
  counted& operator=(const counted&) = delete;
  ~counted() { --alive(); }

  int value() const { return *value_; }
  static int& alive() {
    static int count = 0;
    return count;
  }
  static int& countdown() {
    static int left = -1;
    return left;
  }

 private:
  std::shared_ptr<int> value_;  // a heap object, so a leak or double destruction shows in ASan
};

// A trivially copyable element: its ring grows in place (realloc) and moves
// the wrapped-around part itself.
struct plain {
  explicit plain(int v) : v(v) {}
  int value() const { return v; }
  int v;
};
static_assert(std::is_trivially_copyable<plain>::value, "plain must take the realloc path");

struct model_entry {
  int value;
  packet_sideband band;
};

template <typename Ring>
void expect_same(const Ring& ring, const std::deque<model_entry>& model, const std::string& when) {
  ASSERT_EQ(ring.size(), model.size()) << when;
  ASSERT_EQ(ring.empty(), model.empty()) << when;
  for (std::size_t i = 0; i < model.size(); ++i) {
    ASSERT_EQ(ring[i].value(), model[i].value) << when << ", element " << i;
  }
  if (!model.empty()) {
    const packet_sideband& band = ring.front_sideband();
    EXPECT_EQ(band.sop, model.front().band.sop) << when;
    EXPECT_EQ(band.eop, model.front().band.eop) << when;
    EXPECT_EQ(band.empty, model.front().band.empty) << when;
  }
}

// Random runs, biased so that the ring fills up, wraps around many times and
// drains; `bound` is the most it may hold.
template <typename Element>
void run_against_deque(std::size_t bound, std::uint64_t seed) {
  std::uint64_t state = seed;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  };
  stream_ring<Element> ring;
  std::deque<model_entry> model;
  for (int step = 0; step < 20000; ++step) {
    const std::string when = "bound " + std::to_string(bound) + ", step " + std::to_string(step);
    const bool fill_phase = (step / 500) % 2 == 0;
    const bool append =
        model.size() < bound && (model.empty() || next() % 4 < (fill_phase ? 3u : 1u));
    if (append) {
      const int value = static_cast<int>(next());
      const packet_sideband band{value % 2 == 0, value % 3 == 0, value % 7};
      ring.push_back(Element(value), band, bound);
      model.push_back({value, band});
    } else {
      const packet_sideband band = ring.front_sideband();
      EXPECT_EQ(band.empty, model.front().band.empty) << when;
      const Element taken = ring.pop_front();
      ASSERT_EQ(taken.value(), model.front().value) << when;
      model.pop_front();
    }
    ASSERT_LE(ring.capacity(), bound) << when;
    expect_same(ring, model, when);
    if (std::is_same<Element, counted>::value) {
      ASSERT_EQ(counted::alive(), static_cast<int>(model.size())) << when;
    }
  }
}

TEST(StreamRing, BoundedRingsMatchADequeAndNeverGrowPastTheirBound) {
  for (std::size_t bound : {1u, 2u, 3u, 5u, 16u, 17u, 100u, 1000u}) {
    run_against_deque<counted>(bound, bound * 7919);
    run_against_deque<plain>(bound, bound * 104729);
  }
  EXPECT_EQ(counted::alive(), 0);
}

template <typename Element>
void grow_across_the_wrap() {
  stream_ring<Element> ring;
  std::deque<model_entry> model;
  // Move the head to the middle of the first array, then fill it, so that
  // the growth relocates a wrapped-around sequence.
  for (int i = 0; i < 10; ++i) {
    ring.push_back(Element(-i), {}, SIZE_MAX);
    ring.drop_front();
  }
  for (int i = 0; i < 1000; ++i) {
    const packet_sideband band{i % 5 == 0, i % 5 == 4, i};
    ring.push_back(Element(i), band, SIZE_MAX);
    model.push_back({i, band});
    const std::size_t capacity = ring.capacity();
    ASSERT_GE(capacity, ring.size());
    ASSERT_EQ(capacity & (capacity - 1), 0u) << "capacity " << capacity << " not a power of two";
  }
  expect_same(ring, model, "after the growth");
  for (const model_entry& want : model) {
    const packet_sideband band = ring.front_sideband();
    ASSERT_EQ(band.sop, want.band.sop);
    ASSERT_EQ(band.eop, want.band.eop);
    ASSERT_EQ(band.empty, want.band.empty);
    ASSERT_EQ(ring.pop_front().value(), want.value);
  }
}

TEST(StreamRing, UnboundedRingGrowsByDoublingAndKeepsOrderAcrossTheWrap) {
  grow_across_the_wrap<counted>();
  EXPECT_EQ(counted::alive(), 0);
  grow_across_the_wrap<plain>();
}

TEST(StreamRing, FailedGrowthOrTakeLeavesTheRingAsItWas) {
  stream_ring<counted> ring;
  std::deque<model_entry> model;
  for (int i = 0; i < 7; ++i) {  // the head moves to slot 7 of 16
    ring.push_back(counted(100 + i), {}, SIZE_MAX);
    ring.drop_front();
  }
  for (int i = 0; i < 16; ++i) {  // full and wrapped around
    const packet_sideband band{i == 0, i == 15, i - 8};
    ring.push_back(counted(i), band, SIZE_MAX);
    model.push_back({i, band});
  }
  ASSERT_EQ(ring.capacity(), 16u);
  // The 17th append relocates 16 elements, then copies the new one: let each
  // of those copies fail in turn.
  for (int copies = 0; copies <= 16; ++copies) {
    const counted extra(99);
    counted::countdown() = copies;
    EXPECT_THROW(ring.push_back(extra, {true, true, 99}, SIZE_MAX), copy_failure) << copies;
    counted::countdown() = -1;
    // The last copy is the new element's, into the grown array.
    EXPECT_EQ(ring.capacity(), copies < 16 ? 16u : 32u) << copies;
    expect_same(ring, model, "copy " + std::to_string(copies) + " of the growth failed");
    EXPECT_EQ(counted::alive(), 17) << copies;  // the ring's and `extra`
  }
  // A take whose copy out of the ring fails leaves the element in place.
  counted::countdown() = 0;
  EXPECT_THROW(ring.pop_front(), copy_failure);
  counted::countdown() = -1;
  expect_same(ring, model, "the take failed");
  ring.push_back(counted(16), {}, SIZE_MAX);
  EXPECT_EQ(ring.capacity(), 32u);
  EXPECT_EQ(ring[16].value(), 16);
  EXPECT_EQ(ring.pop_front().value(), 0);
}

}  // namespace
}  // namespace qrn_test
