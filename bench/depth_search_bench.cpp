// FIFO sizing by reruns against sizing on the event graph, on a generated
// design of 64 streams: the bench's samples fan out through a tree of forks
// to 16 lanes, each a stage of ii 1 or 2 (two lanes with a second stage: a
// longer reconvergent path), and join back through a tree of adders to the
// bench's output.
//
//   qrn_depth_search_bench            runs `qrn-depths --rerun` once and
//                                     `qrn-depths` five times on the design,
//                                     side by side in this one run, and
//                                     prints the rerun's time, the graph
//                                     searches' median and whether their
//                                     tables agree
//   qrn_depth_search_bench design     is the design (what qrn-depths runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "HLS/hls.h"
#include "HLS/task.h"
#include "HLS/timing.h"
#include "child_process.h"

namespace {

constexpr int samples = 200;
constexpr int graph_runs = 5;
constexpr int lanes = 16;

using channel = qrn::stream<int>;
// final: destroying one needs no virtual destructor.
struct named_channel final : channel {
  explicit named_channel(const std::string& name) : channel(name.c_str()) {}
};

void fork_stage(channel& in, channel& a, channel& b, int count) {
  for (int i = 0; i < count; ++i) {
    const int value = in.read();
    a.write(value);
    b.write(value + 1);
  }
}

void lane_stage(channel& in, channel& out, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(in.read() * 3);
  }
}

void join_stage(channel& a, channel& b, channel& out, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(a.read() + b.read());
  }
}

int run_design() {
  std::deque<named_channel> streams;  // a deque: its elements stay where they are made
  const auto make = [&streams]() -> channel* {
    return &streams.emplace_back("s" + std::to_string(streams.size()));
  };
  std::vector<channel*> level = {make()};
  channel* const input = level.front();
  while (level.size() < lanes) {  // 1 + 2 + 4 + 8 + 16 streams
    std::vector<channel*> next;
    for (channel* in : level) {
      channel* a = make();
      channel* b = make();
      qrn::launch_task<fork_stage>(*in, *a, *b, samples);
      next.insert(next.end(), {a, b});
    }
    level = next;
  }
  for (std::size_t lane = 0; lane < level.size(); ++lane) {  // 16 + 2 streams
    const unsigned int ii = lane % 3 == 0 ? 2 : 1;
    for (int stage = 0; stage < (lane == 5 || lane == 10 ? 2 : 1); ++stage) {
      channel* out = make();
      qrn::launch_task<lane_stage>(qrn::timing{ii, 3}, *level[lane], *out, samples);
      level[lane] = out;
    }
  }
  while (level.size() > 1) {  // 8 + 4 + 2 + 1 streams
    std::vector<channel*> next;
    for (std::size_t i = 0; i < level.size(); i += 2) {
      next.push_back(make());
      qrn::launch_task<join_stage>(*level[i], *level[i + 1], *next.back(), samples);
    }
    level = next;
  }
  for (int i = 0; i < samples; ++i) {
    input->write(i);
  }
  long sum = 0;
  for (int i = 0; i < samples; ++i) {
    sum += level.front()->read();
  }
  std::printf("%zu streams, sum %ld\n", streams.size(), sum);
  return 0;
}

// The table's rows (stream, declared, no deadlock, full speed).
std::string rows_of(const std::string& out) { return out.substr(0, out.find("cycles unbounded")); }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "design") == 0) {
    return run_design();
  }
  const std::string design = qrn_bench::own_executable();
  const qrn_bench::child_result rerun =
      qrn_bench::run_child({QRN_DEPTHS_PROGRAM, "--rerun", design, "design"});
  // The graph search takes a few milliseconds, which a loaded machine can
  // double: its median over several runs.
  std::vector<qrn_bench::child_result> graphs;
  for (int i = 0; i < graph_runs; ++i) {
    graphs.push_back(qrn_bench::run_child({QRN_DEPTHS_PROGRAM, design, "design"}));
  }
  std::sort(graphs.begin(), graphs.end(),
            [](const auto& a, const auto& b) { return a.wall_seconds < b.wall_seconds; });
  const qrn_bench::child_result& graph = graphs[graph_runs / 2];
  std::printf("qrn-depths --rerun (a run per probe):\n%s\n", rerun.out.c_str());
  std::printf("qrn-depths (probes valued on the event graph):\n%s\n", graph.out.c_str());
  std::printf("rerun search: %.3f s\ngraph search: %.3f s, the median of %d (%.1fx faster)\n",
              rerun.wall_seconds, graph.wall_seconds, graph_runs,
              rerun.wall_seconds / graph.wall_seconds);
  const bool same =
      rerun.exit_status == 0 && std::all_of(graphs.begin(), graphs.end(), [&](const auto& g) {
        return g.exit_status == 0 && rows_of(rerun.out) == rows_of(g.out);
      });
  std::printf("per-stream answers: %s\n", same ? "the same" : "DIFFER");
  return same ? 0 : 1;
}
