// Element copies that throw. Every stream operation is run with the first,
// second, third... copy of an element made during it throwing, until one run
// completes, on streams whose contents start at the head of the storage,
// wrap around its end, or fill it so that a write makes it grow (on a
// stream with a depth, QRN_DEPTH_DEFAULT, as far as the depth allows); after each failed run the
// stream must hold exactly what it held before (same size, every element with its own sideband, a
// later write read back with its own), and no element instance may leak or be destroyed twice. The
// exception: a by-pointer read whose copy into the caller's buffer throws has already taken the
// element, which is then gone (the rest stays intact).
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

struct injected_failure {};

// An element whose copy constructor, move constructor and copy assignment
// throw `injected_failure` on demand, and whose instances are tracked: every
// construction, destruction and assignment checks the objects involved
// against the set of live instances. Single-threaded use only.
class fragile {
 public:
  fragile() : fragile(0) {}
  explicit fragile(int value) : value_(value) { born(); }
  fragile(const fragile& other) : value_(other.value_) {
    copy_point(this, &other);
    born();
  }
  fragile(fragile&& other) noexcept(false) : value_(other.value_) {
    copy_point(this, &other);
    born();
  }
  fragile& operator=(const fragile& other) {
    expect_live(this, "assigned to");
    copy_point(this, &other);
    value_ = other.value_;
    return *this;
  }
  ~fragile() {
    if (live().erase(this) == 0) {
      report("an instance destroyed twice or never constructed");
    }
  }

  int value() const { return value_; }

  // Makes the copy after `copies` more copies throw; -1 disarms.
  static void throw_after(int copies) {
    countdown() = copies;
    thrown_into() = nullptr;
  }
  // The object the last injected failure was to be constructed or assigned.
  static const void*& thrown_into() {
    static const void* target = nullptr;
    return target;
  }
  static std::set<const fragile*>& live() {
    static std::set<const fragile*> instances;
    return instances;
  }
  static std::vector<std::string>& errors() {
    static std::vector<std::string> found;
    return found;
  }

 private:
  static int& countdown() {
    static int left = -1;
    return left;
  }
  static void report(const std::string& what) { errors().push_back(what); }
  static void expect_live(const fragile* object, const char* role) {
    if (live().count(object) == 0) {
      report(std::string("an instance that is not alive was ") + role);
    }
  }
  static void copy_point(const fragile* target, const fragile* source) {
    expect_live(source, "copied");
    if (countdown() >= 0 && countdown()-- == 0) {
      thrown_into() = target;
      throw injected_failure{};
    }
  }
  void born() {
    if (!live().insert(this).second) {
      report("an instance constructed over a live one");
    }
  }

  int value_;
};

struct element {
  int value;
  sideband band;
};
inline bool operator==(const element& a, const element& b) {
  return a.value == b.value && a.band == b.band;
}
inline std::ostream& operator<<(std::ostream& out, const element& e) {
  return out << "{" << e.value << ", " << e.band << "}";
}

// What an operation does to the stream when it completes.
enum class effect { appends, takes, peeks };

// One stream operation, run on `s` with `buffer` as the caller's element
// variable: writes write it with sideband {true, false, 7}, cut to their
// shape; reads and peeks report what they returned in `got` (sideband parts a
// shape does not return are set to the head element's, so `got` compares whole).
template <typename Stream>
struct operation {
  const char* name;
  effect kind;
  sideband stored;  // what an append stores; unused otherwise
  std::function<void(Stream& s, fragile& buffer, const element& head, element& got)> run;
};

template <typename Stream>
std::vector<operation<Stream>> every_operation() {
  using qrn::internal::stream_abstract_base;
  const sideband in{true, false, 7};
  const sideband plain{false, false, 0};
  const sideband flags{true, false, 0};
  using E = const element&;
  std::vector<operation<Stream>> ops = {
      {"write(v)", effect::appends, plain, [](Stream& s, fragile& v, E, element&) { s.write(v); }},
      {"write(v, sop, eop)", effect::appends, flags,
       [=](Stream& s, fragile& v, E, element&) { s.write(v, in.sop, in.eop); }},
      {"write(v, sop, eop, empty)", effect::appends, in,
       [=](Stream& s, fragile& v, E, element&) { s.write(v, in.sop, in.eop, in.empty); }},
      {"tryWrite(v)", effect::appends, plain,
       [=](Stream& s, fragile& v, E, element&) { EXPECT_TRUE(s.tryWrite(v)); }},
      {"tryWrite(v, sop, eop)", effect::appends, flags,
       [=](Stream& s, fragile& v, E, element&) { EXPECT_TRUE(s.tryWrite(v, in.sop, in.eop)); }},
      {"tryWrite(v, sop, eop, empty)", effect::appends, in,
       [=](Stream& s, fragile& v, E, element&) {
         EXPECT_TRUE(s.tryWrite(v, in.sop, in.eop, in.empty));
       }},
      {"write_by_ptr", effect::appends, plain,
       [=](Stream& s, fragile& buffer, E, element&) {
         static_cast<stream_abstract_base&>(s).write_by_ptr(&buffer);
       }},
      {"write_by_ptr_pkt", effect::appends, flags,
       [=](Stream& s, fragile& buffer, E, element&) {
         bool sop = in.sop;
         bool eop = in.eop;
         static_cast<stream_abstract_base&>(s).write_by_ptr_pkt(&buffer, &sop, &eop);
       }},
      {"write_by_ptr_pkt_e", effect::appends, in,
       [=](Stream& s, fragile& buffer, E, element&) {
         sideband b = in;
         static_cast<stream_abstract_base&>(s).write_by_ptr_pkt_e(&buffer, &b.sop, &b.eop,
                                                                  &b.empty);
       }},

      {"read(false)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         const fragile r = s.read(false);
         got = element{r.value(), head.band};
       }},
      {"read(true)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         const fragile r = s.read(true);
         got = element{r.value(), head.band};
       }},
      {"read(sop, eop, false)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         got.band.empty = head.band.empty;
         const fragile r = s.read(got.band.sop, got.band.eop, false);
         got.value = r.value();
       }},
      {"read(sop, eop, empty, true)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E, element& got) {
         const fragile r = s.read(got.band.sop, got.band.eop, got.band.empty, true);
         got.value = r.value();
       }},
      {"tryRead(ok)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         bool ok = false;
         const fragile r = s.tryRead(ok);
         EXPECT_TRUE(ok);
         got = element{r.value(), head.band};
       }},
      {"tryRead(ok, sop, eop)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         bool ok = false;
         got.band.empty = head.band.empty;
         const fragile r = s.tryRead(ok, got.band.sop, got.band.eop);
         EXPECT_TRUE(ok);
         got.value = r.value();
       }},
      {"tryRead(ok, sop, eop, empty)",
       effect::takes,
       {},
       [](Stream& s, fragile&, E, element& got) {
         bool ok = false;
         const fragile r = s.tryRead(ok, got.band.sop, got.band.eop, got.band.empty);
         EXPECT_TRUE(ok);
         got.value = r.value();
       }},
      {"read_by_ptr",
       effect::takes,
       {},
       [](Stream& s, fragile& buffer, E head, element& got) {
         static_cast<stream_abstract_base&>(s).read_by_ptr(&buffer);
         got = element{buffer.value(), head.band};
       }},
      {"read_by_ptr_pkt",
       effect::takes,
       {},
       [](Stream& s, fragile& buffer, E head, element& got) {
         got.band.empty = head.band.empty;
         static_cast<stream_abstract_base&>(s).read_by_ptr_pkt(&buffer, &got.band.sop,
                                                               &got.band.eop);
         got.value = buffer.value();
       }},
      {"read_by_ptr_pkt_e",
       effect::takes,
       {},
       [](Stream& s, fragile& buffer, E, element& got) {
         static_cast<stream_abstract_base&>(s).read_by_ptr_pkt_e(&buffer, &got.band.sop,
                                                                 &got.band.eop, &got.band.empty);
         got.value = buffer.value();
       }},

      {"_internal_cosim_front()",
       effect::peeks,
       {},
       [](Stream& s, fragile&, E head, element& got) {
         const fragile r = s._internal_cosim_front();
         got = element{r.value(), head.band};
       }},
      {"_internal_cosim_front(sop, eop, empty)",
       effect::peeks,
       {},
       [](Stream& s, fragile&, E, element& got) {
         const fragile r = s._internal_cosim_front(got.band.sop, got.band.eop, got.band.empty);
         got.value = r.value();
       }},
      {"front_by_ptr_pkt_e",
       effect::peeks,
       {},
       [](Stream& s, fragile& buffer, E, element& got) {
         static_cast<stream_abstract_base&>(s).front_by_ptr_pkt_e(&buffer, &got.band.sop,
                                                                  &got.band.eop, &got.band.empty);
         got.value = buffer.value();
       }},
  };
  return ops;
}

// Streams of fragile elements, named for the test output.
using fragile_streams = ::testing::Types<qrn::internal::stream<fragile>, qrn::stream_in<fragile>,
                                         qrn::stream_out<fragile>>;
struct fragile_stream_names {
  template <typename Stream>
  static std::string GetName(int) {
    if (std::is_same<Stream, qrn::stream_in<fragile>>::value) {
      return "stream_in";
    }
    if (std::is_same<Stream, qrn::stream_out<fragile>>::value) {
      return "stream_out";
    }
    return "stream";
  }
};

template <typename Stream>
class StreamThrowingCopy : public ::testing::Test {
 protected:
  void TearDown() override {
    fragile::throw_after(-1);
    EXPECT_TRUE(fragile::live().empty()) << fragile::live().size() << " instances leaked";
    for (const std::string& error : fragile::errors()) {
      ADD_FAILURE() << error;
    }
    fragile::errors().clear();
  }
};
TYPED_TEST_SUITE(StreamThrowingCopy, fragile_streams, fragile_stream_names);

// The contents a case starts from: `elements` elements, written after
// `lead` others were written and read, which moves where they are stored.
struct history {
  int lead;
  int elements;
};

std::vector<history> every_history() {
  const std::size_t depth = qrn_test::declared_default_depth();
  const int storage = static_cast<int>(std::min<std::size_t>(16, depth));   // a ring's first size
  const int most = static_cast<int>(std::min<std::size_t>(16, depth - 2));  // room for two writes
  return {{0, 3}, {storage - 1, 3}, {storage / 2, most}};
}

TYPED_TEST(StreamThrowingCopy, FailedOperationLeavesTheStreamAsItWas) {
  for (const history& past : every_history()) {
    std::deque<element> initial;
    for (int i = 0; i < past.elements; ++i) {
      initial.push_back({i + 1, {i % 2 == 0, i % 3 == 2, i - 1}});
    }
    for (const operation<TypeParam>& op : every_operation<TypeParam>()) {
      for (int copies = 0;; ++copies) {
        ASSERT_LT(copies, 24) << op.name << " still throws after 24 copies";
        SCOPED_TRACE(std::string(op.name) + ", copy " + std::to_string(copies) + " throws, after " +
                     std::to_string(past.lead) + " moved and with " +
                     std::to_string(past.elements) + " stored");
        bool threw = false;
        {
          TypeParam stream;
          std::deque<element> expected = initial;
          for (int i = 0; i < past.lead; ++i) {
            stream.write(fragile(-i));
            stream.read(false);
          }
          for (const element& e : initial) {
            stream.write(fragile(e.value), e.band.sop, e.band.eop, e.band.empty);
          }
          fragile buffer(100);
          const element head = expected.front();
          element got{-1, {!head.band.sop, !head.band.eop, ~head.band.empty}};

          fragile::throw_after(copies);
          try {
            op.run(stream, buffer, head, got);
          } catch (const injected_failure&) {
            threw = true;
          }
          const bool into_buffer = threw && fragile::thrown_into() == &buffer;
          fragile::throw_after(-1);

          if (!threw) {
            if (op.kind == effect::appends) {
              expected.push_back(element{100, op.stored});
            } else {
              EXPECT_EQ(got, head);
              if (op.kind == effect::takes) {
                expected.pop_front();
              }
            }
          } else if (op.kind == effect::takes && into_buffer) {
            // A by-pointer read copies into the caller's buffer after taking
            // the element: the element is gone, the rest stays in step.
            expected.pop_front();
          }
          EXPECT_EQ(stream.get_size(), expected.size());
          EXPECT_EQ(fragile::live().size(), expected.size() + 1) << "instances besides `buffer`";

          // A later write comes out last with its own sideband, and every
          // element before it with its own.
          expected.push_back(element{99, {true, true, 99}});
          stream.write(fragile(99), true, true, 99);
          std::deque<element> drained;
          while (!stream._internal_cosim_empty()) {
            element read{-1, {}};
            const fragile r = stream.read(read.band.sop, read.band.eop, read.band.empty, false);
            read.value = r.value();
            drained.push_back(read);
          }
          EXPECT_EQ(drained, expected);
        }
        EXPECT_TRUE(fragile::live().empty()) << fragile::live().size() << " instances leaked";
        if (!threw) {
          // Every operation copies at least one element, so copy 0 must throw.
          EXPECT_GT(copies, 0) << op.name << " completed with its first copy failing";
          break;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qrn_test
