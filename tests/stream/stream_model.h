// Model-based check of one stream channel: a sequence of bytes chooses the
// operations (every read, write, tryRead, tryWrite, tryPeek, peek and
// by-pointer shape)
// and their arguments; each operation runs on the stream and on a reference
// std::deque of (value, sop, eop, empty), and every result, every output
// argument, the size and the emptiness test are compared after each step. The
// by-pointer operations go through a `stream_abstract_base*`, as a
// co-simulation harness calls them.
//
// Operations that would block or be fatal on an empty stream (read of any
// shape, peeks, by-pointer reads and peeks) are skipped while the reference
// is empty; on a stream with a depth, writes that would block are skipped
// while the reference holds that many, and a tryWrite must be refused. Used by the seeded test
// (stream_model_test.cpp) and by the libFuzzer target (stream_model_fuzzer.cpp), so that a fuzzer
// finding replays as a test input.
#ifndef QRN_TESTS_STREAM_STREAM_MODEL_H
#define QRN_TESTS_STREAM_STREAM_MODEL_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "HLS/hls.h"

namespace qrn_test {

// Hands out the bytes of an input one at a time; past the end it yields 0
// and reports itself exhausted.
class byte_choices {
 public:
  byte_choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool exhausted() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool flag() { return (byte() & 1) != 0; }
  std::int32_t int32() {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
      bits = (bits << 8) | byte();
    }
    return static_cast<std::int32_t>(bits);
  }
  // Mostly small values near zero, sometimes any 32-bit value.
  int value() {
    const std::uint8_t b = byte();
    return b < 240 ? static_cast<int>(b) - 120 : int32();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// `count` bytes of a SplitMix64 sequence started at `seed`: the input of one
// seeded model run.
inline std::vector<std::uint8_t> seeded_bytes(std::uint64_t seed, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < count; i += 8) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    for (std::size_t j = i; j < count && j < i + 8; ++j) {
      bytes[j] = static_cast<std::uint8_t>(z >> (8 * (j - i)));
    }
  }
  return bytes;
}

// One element as the reference model stores it.
struct model_element {
  int value;
  bool sop;
  bool eop;
  int empty;
};

// The outcome of a model run: `failure` is empty when every step matched;
// otherwise it names the first mismatch, found at step `step` (0-based).
struct model_outcome {
  std::size_t step = 0;  // operations run (reads skipped on an empty stream not counted)
  std::size_t max_size = 0;
  std::string failure;
};

// Runs the operations chosen by `in` on `stream`, which must start empty.
template <typename Stream>
class stream_model {
 public:
  // `depth`: the stream's depth in force, if any.
  explicit stream_model(Stream& stream, std::size_t depth = SIZE_MAX)
      : s_(stream), base_(stream), depth_(depth) {}

  model_outcome run(byte_choices& in) {
    current_op_ = "construction";
    check_state();
    while (out_.failure.empty() && !in.exhausted()) {
      const std::uint8_t op = in.byte();
      if (op >= burst_ops) {
        // A burst of writes (op even) or reads (op odd), to reach queue
        // lengths that span several deque blocks.
        const int count = 1 + in.byte() + (op & 2 ? 256 : 0);
        for (int i = 0; i < count && out_.failure.empty(); ++i) {
          step(in, burst_op((op & 1) == 0, in.byte()));
        }
      } else {
        step(in, op % single_ops);
      }
    }
    drain();
    return out_;
  }

 private:
  // Operation codes; the bursts pick among the writes and element-taking
  // reads only.
  enum : unsigned {
    op_write,
    op_write_flags,
    op_write_count,
    op_try_write,
    op_try_write_flags,
    op_try_write_count,
    op_write_by_ptr,
    op_write_by_ptr_pkt,
    op_write_by_ptr_pkt_e,
    op_read,
    op_read_flags,
    op_read_count,
    op_try_read,
    op_try_read_flags,
    op_try_read_count,
    op_read_by_ptr,
    op_read_by_ptr_pkt,
    op_read_by_ptr_pkt_e,
    op_front,
    op_front_flags,
    op_front_count,
    op_front_by_ptr,
    op_front_by_ptr_pkt,
    op_front_by_ptr_pkt_e,
    op_try_peek,
    op_try_peek_flags,
    op_try_peek_count,
    single_ops
  };
  static constexpr unsigned burst_ops = 248;

  // The i-th write or element-taking read, for the bursts.
  static unsigned burst_op(bool writes, std::uint8_t i) {
    static const unsigned write_ops[] = {
        op_write,        op_write_flags,      op_write_count,
        op_try_write,    op_try_write_flags,  op_try_write_count,
        op_write_by_ptr, op_write_by_ptr_pkt, op_write_by_ptr_pkt_e};
    static const unsigned read_ops[] = {op_read,        op_read_flags,      op_read_count,
                                        op_try_read,    op_try_read_flags,  op_try_read_count,
                                        op_read_by_ptr, op_read_by_ptr_pkt, op_read_by_ptr_pkt_e};
    return writes ? write_ops[i % 9] : read_ops[i % 9];
  }

  void step(byte_choices& in, unsigned op) {
    const bool takes_or_peeks = op >= op_read && op <= op_front_by_ptr_pkt_e && op != op_try_read &&
                                op != op_try_read_flags && op != op_try_read_count;
    if (takes_or_peeks && model_.empty()) {
      return;  // would block or be fatal
    }
    const bool blocking_write =
        op <= op_write_by_ptr_pkt_e && (op < op_try_write || op > op_try_write_count);
    if (blocking_write && model_.size() >= depth_) {
      return;  // would block
    }
    current_op_ = op_name(op);
    apply(in, op);
    if (model_.size() > out_.max_size) {
      out_.max_size = model_.size();
    }
    check_state();
    if (out_.failure.empty()) {
      ++out_.step;
    }
  }

  void apply(byte_choices& in, unsigned op) {
    const std::uint8_t sideband_bits = in.byte();
    const bool sop = (sideband_bits & 1) != 0;
    const bool eop = (sideband_bits & 2) != 0;
    // Counts: mostly small, negative ones included; sometimes any int.
    const int count = (sideband_bits >> 2) == 63 ? in.int32() : (sideband_bits >> 2) - 31;
    switch (op) {
      case op_write: {
        const int v = in.value();
        s_.write(v);
        push(v, false, false, 0);
        break;
      }
      case op_write_flags: {
        const int v = in.value();
        s_.write(v, sop, eop);
        push(v, sop, eop, 0);
        break;
      }
      case op_write_count: {
        const int v = in.value();
        s_.write(v, sop, eop, count);
        push(v, sop, eop, count);
        break;
      }
      case op_try_write: {
        const int v = in.value();
        const bool room = model_.size() < depth_;
        try_written(s_.tryWrite(v), room, model_element{v, false, false, 0});
        break;
      }
      case op_try_write_flags: {
        const int v = in.value();
        const bool room = model_.size() < depth_;
        try_written(s_.tryWrite(v, sop, eop), room, model_element{v, sop, eop, 0});
        break;
      }
      case op_try_write_count: {
        const int v = in.value();
        const bool room = model_.size() < depth_;
        try_written(s_.tryWrite(v, sop, eop, count), room, model_element{v, sop, eop, count});
        break;
      }
      case op_write_by_ptr: {
        int v = in.value();
        base().write_by_ptr(&v);
        push(v, false, false, 0);
        break;
      }
      case op_write_by_ptr_pkt: {
        int v = in.value();
        bool p_sop = sop;
        bool p_eop = eop;
        base().write_by_ptr_pkt(&v, &p_sop, &p_eop);
        push(v, sop, eop, 0);
        break;
      }
      case op_write_by_ptr_pkt_e: {
        int v = in.value();
        bool p_sop = sop;
        bool p_eop = eop;
        int p_count = count;
        base().write_by_ptr_pkt_e(&v, &p_sop, &p_eop, &p_count);
        push(v, sop, eop, count);
        break;
      }

      // Reads: the caller's variables start as the opposite of what the head
      // element carries, so an output that is not written is caught.
      case op_read: {
        const model_element want = pop();
        const int got = in.flag() ? s_.read(true) : s_.read(false);
        expect_value(got, want.value);
        break;
      }
      case op_read_flags: {
        const model_element want = pop();
        model_element got = opposite(want);
        got.value = s_.read(got.sop, got.eop, in.flag());
        expect_element(got, want, false);
        break;
      }
      case op_read_count: {
        const model_element want = pop();
        model_element got = opposite(want);
        got.value = s_.read(got.sop, got.eop, got.empty, in.flag());
        expect_element(got, want, true);
        break;
      }
      case op_try_read:
      case op_try_read_flags:
      case op_try_read_count:
        try_read(op - op_try_read, false, sop, eop, count);
        break;
      case op_read_by_ptr: {
        const model_element want = pop();
        model_element got = opposite(want);
        base().read_by_ptr(&got.value);
        expect_value(got.value, want.value);
        break;
      }
      case op_read_by_ptr_pkt: {
        const model_element want = pop();
        model_element got = opposite(want);
        base().read_by_ptr_pkt(&got.value, &got.sop, &got.eop);
        expect_element(got, want, false);
        break;
      }
      case op_read_by_ptr_pkt_e: {
        const model_element want = pop();
        model_element got = opposite(want);
        base().read_by_ptr_pkt_e(&got.value, &got.sop, &got.eop, &got.empty);
        expect_element(got, want, true);
        break;
      }

      // Peeks leave the reference unchanged.
      case op_front:
        expect_value(s_._internal_cosim_front(), model_.front().value);
        break;
      case op_front_flags: {
        model_element got = opposite(model_.front());
        got.value = s_._internal_cosim_front(got.sop, got.eop);
        expect_element(got, model_.front(), false);
        break;
      }
      case op_front_count: {
        model_element got = opposite(model_.front());
        got.value = s_._internal_cosim_front(got.sop, got.eop, got.empty);
        expect_element(got, model_.front(), true);
        break;
      }
      case op_front_by_ptr: {
        model_element got = opposite(model_.front());
        base().front_by_ptr(&got.value);
        expect_value(got.value, model_.front().value);
        break;
      }
      case op_front_by_ptr_pkt: {
        model_element got = opposite(model_.front());
        base().front_by_ptr_pkt(&got.value, &got.sop, &got.eop);
        expect_element(got, model_.front(), false);
        break;
      }
      case op_front_by_ptr_pkt_e: {
        model_element got = opposite(model_.front());
        base().front_by_ptr_pkt_e(&got.value, &got.sop, &got.eop, &got.empty);
        expect_element(got, model_.front(), true);
        break;
      }
      case op_try_peek:
      case op_try_peek_flags:
      case op_try_peek_count:
        try_read(op - op_try_peek, true, sop, eop, count);
        break;
      default:
        break;
    }
  }

  // tryRead or tryPeek (`peek`) of the three shapes (`shape` 0: plain,
  // 1: flags, 2: flags and count), on an empty or a non-empty stream. On an
  // empty one it must report failure, return T() and leave the caller's
  // sideband variables (here arbitrary values from the input) alone; a peek
  // leaves the element in place.
  void try_read(unsigned shape, bool peek, bool sop, bool eop, int count) {
    const bool has_element = !model_.empty();
    model_element want{};
    model_element got{};
    if (has_element) {
      want = peek ? model_.front() : pop();
      got = opposite(want);
    } else {
      want = model_element{0, sop, eop, count};
      got = model_element{-1, sop, eop, count};
    }
    bool success = !has_element;
    if (shape == 0) {
      got.value = peek ? s_.tryPeek(success) : s_.tryRead(success);
    } else if (shape == 1) {
      got.value =
          peek ? s_.tryPeek(success, got.sop, got.eop) : s_.tryRead(success, got.sop, got.eop);
    } else {
      got.value = peek ? s_.tryPeek(success, got.sop, got.eop, got.empty)
                       : s_.tryRead(success, got.sop, got.eop, got.empty);
    }
    expect(success == has_element, has_element ? "a non-empty stream reported empty"
                                               : "an empty stream reported an element");
    if (shape == 0) {
      expect_value(got.value, want.value);
    } else {
      expect_element(got, want, shape == 2 || !has_element);
    }
  }

  qrn::internal::stream_abstract_base& base() { return base_; }

  void push(int value, bool sop, bool eop, int empty) {
    model_.push_back(model_element{value, sop, eop, empty});
  }
  // A tryWrite of `e` returned `written`; it must succeed exactly when the
  // stream had room.
  void try_written(bool written, bool room, const model_element& e) {
    if (written != room) {
      fail(room ? "returned false" : "returned true on a full stream");
    } else if (written) {
      push(e.value, e.sop, e.eop, e.empty);
    }
  }
  model_element pop() {
    const model_element e = model_.front();
    model_.pop_front();
    return e;
  }
  static model_element opposite(const model_element& e) {
    return model_element{~e.value, !e.sop, !e.eop, ~e.empty};
  }

  void check_state() {
    if (base().get_size() != model_.size()) {
      fail("then get_size() " + std::to_string(base().get_size()) + ", expected " +
           std::to_string(model_.size()));
    } else if (base()._internal_cosim_empty() != model_.empty()) {
      fail(std::string("then _internal_cosim_empty() ") +
           (model_.empty() ? "false on an empty stream" : "true on a non-empty stream"));
    }
  }
  // Reads every remaining element with its whole sideband.
  void drain() {
    current_op_ = "final drain: read(sop, eop, empty, false)";
    while (out_.failure.empty() && !model_.empty()) {
      const model_element want = pop();
      model_element got = opposite(want);
      got.value = s_.read(got.sop, got.eop, got.empty, false);
      expect_element(got, want, true);
      check_state();
      if (out_.failure.empty()) {
        ++out_.step;
      }
    }
  }

  void expect(bool ok, const char* what) {
    if (!ok) {
      fail(what);
    }
  }
  void expect_value(int got, int want) {
    if (got != want) {
      fail("value " + std::to_string(got) + ", expected " + std::to_string(want));
    }
  }
  void expect_element(const model_element& got, const model_element& want, bool with_count) {
    if (got.value != want.value || got.sop != want.sop || got.eop != want.eop ||
        (with_count && got.empty != want.empty)) {
      fail("element " + describe(got, with_count) + ", expected " + describe(want, with_count));
    }
  }
  static std::string describe(const model_element& e, bool with_count) {
    std::ostringstream text;
    text << "{" << e.value << ", sop " << e.sop << ", eop " << e.eop;
    if (with_count) {
      text << ", empty " << e.empty;
    }
    text << "}";
    return text.str();
  }
  void fail(const std::string& what) {
    if (out_.failure.empty()) {
      out_.failure = std::string(current_op_) + ": " + what;
    }
  }

  static const char* op_name(unsigned op) {
    static const char* const names[single_ops] = {
        "write(v)",
        "write(v, sop, eop)",
        "write(v, sop, eop, empty)",
        "tryWrite(v)",
        "tryWrite(v, sop, eop)",
        "tryWrite(v, sop, eop, empty)",
        "write_by_ptr",
        "write_by_ptr_pkt",
        "write_by_ptr_pkt_e",
        "read(wait)",
        "read(sop, eop, wait)",
        "read(sop, eop, empty, wait)",
        "tryRead(ok)",
        "tryRead(ok, sop, eop)",
        "tryRead(ok, sop, eop, empty)",
        "read_by_ptr",
        "read_by_ptr_pkt",
        "read_by_ptr_pkt_e",
        "_internal_cosim_front()",
        "_internal_cosim_front(sop, eop)",
        "_internal_cosim_front(sop, eop, empty)",
        "front_by_ptr",
        "front_by_ptr_pkt",
        "front_by_ptr_pkt_e",
        "tryPeek(ok)",
        "tryPeek(ok, sop, eop)",
        "tryPeek(ok, sop, eop, empty)",
    };
    return names[op];
  }

  Stream& s_;
  qrn::internal::stream_abstract_base& base_;
  std::size_t depth_;
  std::deque<model_element> model_;
  model_outcome out_;
  const char* current_op_ = "";
};

// Runs the model on a fresh stream of each of the three classes, the first
// byte choosing which, each with `depth` (see stream_model); the fuzzer's
// entry point.
inline model_outcome run_stream_model(const std::uint8_t* data, std::size_t size,
                                      const char** stream_name = nullptr,
                                      std::size_t depth = SIZE_MAX) {
  byte_choices in(data, size);
  const unsigned kind = in.byte() % 3;
  if (stream_name != nullptr) {
    *stream_name = kind == 0 ? "stream<int>" : kind == 1 ? "stream_in<int>" : "stream_out<int>";
  }
  if (kind == 0) {
    qrn::internal::stream<int> s;
    return stream_model<qrn::internal::stream<int>>(s, depth).run(in);
  }
  if (kind == 1) {
    qrn::stream_in<int> s;
    return stream_model<qrn::stream_in<int>>(s, depth).run(in);
  }
  qrn::stream_out<int> s;
  return stream_model<qrn::stream_out<int>>(s, depth).run(in);
}

}  // namespace qrn_test

#endif  // QRN_TESTS_STREAM_STREAM_MODEL_H
