// Traces of stream traffic (QRN_TRACE, qrn::trace_to), read back from whole
// runs of programs/traced_run.cpp: both formats parse, show every occupancy
// change of every stream (so the trace's peak is the run report's), the
// threads with their states, sleeps and busy bursts; every ending leaves a
// complete file; the event limit cuts the trace and says where; bad settings
// get one line on standard error and change nothing else.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "trace/trace_readers.h"

namespace {

using qrn_test::process_result;
using qrn_test::read_file;

constexpr int count = 200;  // elements through the pipeline
constexpr std::chrono::seconds run_limit{60};
const char* const safe_characters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

// Sets environment variables for the children run while it lives.
class environment {
 public:
  explicit environment(std::map<std::string, std::string> values) : values_(std::move(values)) {
    for (const auto& value : values_) {
      setenv(value.first.c_str(), value.second.c_str(), 1);
    }
  }
  ~environment() {
    for (const auto& value : values_) {
      unsetenv(value.first.c_str());
    }
  }
  environment(const environment&) = delete;
  environment& operator=(const environment&) = delete;

 private:
  std::map<std::string, std::string> values_;
};

constexpr std::uint64_t unknown_peak = ~std::uint64_t{0};

// One stream's line of the run report (QRN_REPORT=PATH.json).
struct reported_stream {
  std::uint64_t operations;  // written + read
  std::uint64_t peak;
  std::uint64_t occupancy;
};

// What a trace file shows, read from either format.
struct trace_view {
  std::map<std::string, std::vector<std::uint64_t>>
      occupancy;  // per stream; the initial value first
  std::set<std::string> threads;
  std::map<std::string, std::set<std::string>> slept_on;  // per thread: the streams
  std::map<std::string, std::uint64_t> burst_moves;       // per thread (JSON only)
  std::uint64_t changes = 0;                              // values recorded after the initial ones
  bool cut = false;
};

// Reads a Value Change Dump, checking what only this format has: the time
// scale, the variable types, and that every thread value is a state.
trace_view view_of_vcd(const std::string& text) {
  const qrn_test::vcd_file vcd = qrn_test::read_vcd(text);
  trace_view view;
  EXPECT_EQ(vcd.timescale, "1ns");
  for (const qrn_test::vcd_variable& v : vcd.variables) {
    const std::vector<qrn_test::vcd_change>& changes = vcd.changes_of(v.scope, v.name);
    if (v.scope == "streams") {
      EXPECT_EQ(v.type, "integer") << v.name;
      for (const qrn_test::vcd_change& change : changes) {
        view.occupancy[v.name].push_back(std::stoull(change.value));
      }
      view.changes += changes.empty() ? 0 : changes.size() - 1;
    } else if (v.scope == "threads") {
      EXPECT_EQ(v.type, "string") << v.name;
      view.threads.insert(v.name);
      for (const qrn_test::vcd_change& change : changes) {
        const std::string& state = change.value;
        const std::string asleep = "asleep:";
        if (state.compare(0, asleep.size(), asleep) == 0) {
          const std::string stream = state.substr(asleep.size());
          EXPECT_FALSE(stream.empty());
          EXPECT_EQ(stream.find_first_not_of(safe_characters), std::string::npos) << state;
          view.slept_on[v.name].insert(stream);
        } else {
          EXPECT_TRUE(state == "running" || state == "polling") << v.name << ": " << state;
        }
      }
      view.changes += changes.size();
    } else {
      EXPECT_EQ(v.scope + "." + v.name, "trace.cut");
      EXPECT_EQ(changes.size(), 2u);
      EXPECT_EQ(changes.back().value, "1");
      view.cut = true;
    }
  }
  bool commented = false;
  for (const std::string& comment : vcd.comments) {
    commented = commented || comment.find("cut") != std::string::npos;
  }
  EXPECT_EQ(commented, view.cut);
  return view;
}

std::string tid_of(const nlohmann::json& event) {
  return std::to_string(event.at("tid").get<long long>());
}

// Reads trace-event JSON, checking what only this format has: the fields of
// each event, one pid, named tracks, and slices that never overlap on one
// track.
trace_view view_of_json(const std::string& text) {
  const nlohmann::json root = nlohmann::json::parse(text);
  trace_view view;
  EXPECT_EQ(root.at("displayTimeUnit"), "ns");
  view.cut = root.at("otherData").at("cut").get<bool>();
  const nlohmann::json& events = root.at("traceEvents");
  EXPECT_FALSE(events.empty());
  std::map<std::string, std::string> thread_names;
  std::set<long long> pids;
  for (const nlohmann::json& e : events) {
    pids.insert(e.at("pid").get<long long>());
    if (e.at("ph") == "M" && e.at("name") == "thread_name") {
      thread_names[tid_of(e)] = e.at("args").at("name").get<std::string>();
      view.threads.insert(thread_names[tid_of(e)]);
    }
  }
  EXPECT_EQ(pids.size(), 1u);
  // Per tid: [start, end) in ns (ts and dur are microseconds with three decimals).
  std::map<std::string, std::vector<std::pair<long long, long long>>> slices;
  std::map<std::string, double> last_counter_time;
  bool cut_marked = false;
  for (const nlohmann::json& e : events) {
    const std::string ph = e.at("ph").get<std::string>();
    if (ph == "X") {
      const std::string tid = tid_of(e);
      EXPECT_EQ(thread_names.count(tid), 1u) << "slice on an unnamed track " << tid;
      EXPECT_GE(e.at("dur").get<double>(), 0);
      const long long start = std::llround(e.at("ts").get<double>() * 1000);
      slices[tid].emplace_back(start, start + std::llround(e.at("dur").get<double>() * 1000));
      if (e.at("cat") == "sleep") {
        const std::string stream = e.at("args").at("stream").get<std::string>();
        view.slept_on[thread_names[tid]].insert(stream);
        EXPECT_EQ(e.at("name"), "asleep on " + stream);
      } else {
        EXPECT_EQ(e.at("cat"), "burst");
        EXPECT_GE(e.at("args").at("calls").get<std::uint64_t>(), 1u);
        EXPECT_GE(e.at("args").at("moved").get<std::uint64_t>(), 1u);
        view.burst_moves[thread_names[tid]] += e.at("args").at("moved").get<std::uint64_t>();
      }
      ++view.changes;
    } else if (ph == "C") {
      const std::string stream = e.at("name").get<std::string>();
      std::vector<std::uint64_t>& values = view.occupancy[stream];
      if (!values.empty()) {
        EXPECT_GT(e.at("ts").get<double>(), last_counter_time[stream]) << stream;
        ++view.changes;
      }
      last_counter_time[stream] = e.at("ts").get<double>();
      values.push_back(e.at("args").at("occupancy").get<std::uint64_t>());
    } else if (ph == "i") {
      EXPECT_NE(e.at("name").get<std::string>().find("trace cut"), std::string::npos);
      cut_marked = true;
    } else {
      EXPECT_EQ(ph, "M");
    }
  }
  EXPECT_EQ(cut_marked, view.cut);
  for (auto& track : slices) {
    std::sort(track.second.begin(), track.second.end());
    for (std::size_t i = 1; i < track.second.size(); ++i) {
      EXPECT_LE(track.second[i - 1].second, track.second[i].first)
          << "overlapping slices on track " << track.first;
    }
  }
  return view;
}

class Trace : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qrn_trace_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { (void)std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  static process_result run(const std::vector<std::string>& args,
                            std::map<std::string, std::string> env) {
    std::vector<std::string> argv{QRN_PROGRAM_TRACED_RUN};
    argv.insert(argv.end(), args.begin(), args.end());
    const environment set(std::move(env));
    return qrn_test::run_process(argv, run_limit);
  }

  // Runs `args` untraced, then with QRN_TRACE=`trace` and the run report in
  // report.json; the traced run must print the same and end the same way.
  process_result traced(const std::vector<std::string>& args, const std::string& trace,
                        std::map<std::string, std::string> env = {}) {
    const process_result plain = run(args, env);
    env["QRN_TRACE"] = trace;
    env["QRN_REPORT"] = path("report.json");
    const process_result result = run(args, env);
    EXPECT_FALSE(result.timed_out);
    EXPECT_FALSE(plain.timed_out);
    EXPECT_EQ(result.out, plain.out);
    EXPECT_EQ(result.exit_status, plain.exit_status);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
    return result;
  }

  std::map<std::string, reported_stream> report() const {
    const nlohmann::json report = nlohmann::json::parse(read_file(path("report.json")));
    std::map<std::string, reported_stream> streams;
    for (const nlohmann::json& s : report.at("streams")) {
      streams[s.at("name").get<std::string>()] = {
          s.at("written").get<std::uint64_t>() + s.at("read").get<std::uint64_t>(),
          s.at("peak").get<std::uint64_t>(), s.at("occupancy").get<std::uint64_t>()};
    }
    return streams;
  }

  static trace_view view_of(const std::string& file) {
    const std::string text = read_file(file);
    const bool vcd = file.compare(file.size() - 4, 4, ".vcd") == 0;
    return vcd ? view_of_vcd(text) : view_of_json(text);
  }

  // Expects a trace, not cut, that shows every operation of every stream in
  // `streams` (by default, the run report's) and the threads `threads`.
  trace_view expect_complete(const std::string& file, const std::set<std::string>& threads,
                             std::map<std::string, reported_stream> streams = {}) {
    SCOPED_TRACE(file);
    const trace_view view = view_of(file);
    EXPECT_FALSE(view.cut);
    if (streams.empty()) {
      streams = report();
    }
    for (const auto& stream : streams) {
      if (stream.second.operations == 0) {
        continue;
      }
      SCOPED_TRACE("stream " + stream.first);
      const auto found = view.occupancy.find(stream.first);
      if (found == view.occupancy.end()) {
        ADD_FAILURE() << "not in the trace";
        continue;
      }
      const std::vector<std::uint64_t>& values = found->second;
      EXPECT_EQ(values.size(), stream.second.operations + 1);
      for (std::size_t i = 1; i < values.size(); ++i) {
        EXPECT_TRUE(values[i] == values[i - 1] + 1 || values[i] + 1 == values[i - 1]) << i;
      }
      if (stream.second.peak != unknown_peak) {
        EXPECT_EQ(*std::max_element(values.begin(), values.end()), stream.second.peak);
      }
      EXPECT_EQ(values.back(), stream.second.occupancy);
    }
    for (const std::string& thread : threads) {
      EXPECT_EQ(view.threads.count(thread), 1u) << thread;
    }
    return view;
  }

  std::string dir_;
};

const std::set<std::string> pipeline_threads_vcd = {"test_bench", "doubler", "forwarder"};
const std::set<std::string> pipeline_threads_json = {"test bench", "doubler", "forwarder"};

TEST_F(Trace, SettledPipelineAsVcd) {
  traced({"settled", std::to_string(count)}, path("t.vcd"));
  const trace_view view = expect_complete(path("t.vcd"), pipeline_threads_vcd);
  // Settled: the forwarder went to sleep on its input for good.
  EXPECT_EQ(view.slept_on.at("forwarder").count("doubled"), 1u);
}

TEST_F(Trace, SettledPipelineAsJson) {
  traced({"settled", std::to_string(count)}, path("t.json"));
  const trace_view view = expect_complete(path("t.json"), pipeline_threads_json);
  EXPECT_EQ(view.slept_on.at("forwarder").count("doubled"), 1u);
  // Each stage reads and writes every element; settled, every burst is closed.
  EXPECT_EQ(view.burst_moves.at("doubler"), 2u * count);
  EXPECT_EQ(view.burst_moves.at("forwarder"), 2u * count);
  EXPECT_EQ(view.burst_moves.count("test bench"), 0u);
}

// Names and leftover values are the program's bytes: the run report and the
// trace stay valid JSON whatever they hold. Control characters keep their
// \u00XX escapes; a byte that starts no UTF-8 sequence, and a sequence cut
// short, read back as U+FFFD each.
TEST_F(Trace, JsonFilesStayValidWhateverBytesNamesAndValuesHold) {
  traced({"odd-bytes", std::to_string(count)}, path("t.json"));
  const std::string name = "bytes \xEF\xBF\xBD( \"q\"\t\n\xEF\xBF\xBD";
  const trace_view view = expect_complete(path("t.json"), pipeline_threads_json);
  ASSERT_EQ(view.occupancy.count(name), 1u);
  EXPECT_EQ(view.occupancy.at(name).back(), 3u);
  const std::string text = read_file(path("report.json"));
  EXPECT_NE(text.find("\"name\": \"bytes \xEF\xBF\xBD( \\\"q\\\"\\u0009\\u000a\xEF\xBF\xBD\""),
            std::string::npos)
      << text;
  const nlohmann::json report = nlohmann::json::parse(text);
  std::string first_values;
  for (const nlohmann::json& stream : report.at("streams")) {
    if (stream.at("name") == name) {
      first_values = stream.at("first_values").get<std::string>();
    }
  }
  EXPECT_EQ(first_values, "\xEF\xBF\xBD, \xEF\xBF\xBD, a");
}

// vcd2fst (GTKWave) converts the file, and fst2vcd converts it back to the
// same signals with the same changes.
TEST_F(Trace, GtkwaveConvertsTheVcd) {
  const process_result tools = qrn_test::run_process(
      {"/bin/sh", "-c", "command -v vcd2fst && command -v fst2vcd"}, run_limit);
  if (tools.exit_status != 0) {
    GTEST_SKIP() << "GTKWave's vcd2fst and fst2vcd are not installed (tests/install_deps.sh)";
  }
  traced({"settled", std::to_string(count)}, path("t.vcd"));
  const process_result to_fst = qrn_test::run_process(
      {"/bin/sh", "-c", "vcd2fst '" + path("t.vcd") + "' '" + path("t.fst") + "'"}, run_limit);
  ASSERT_EQ(to_fst.exit_status, 0) << to_fst.err;
  const process_result back =
      qrn_test::run_process({"/bin/sh", "-c", "fst2vcd '" + path("t.fst") + "'"}, run_limit);
  ASSERT_EQ(back.exit_status, 0) << back.err;
  const trace_view original = view_of_vcd(read_file(path("t.vcd")));
  const trace_view converted = view_of_vcd(back.out);
  EXPECT_EQ(converted.occupancy, original.occupancy);
  EXPECT_EQ(converted.threads, original.threads);
  EXPECT_EQ(converted.slept_on, original.slept_on);
  EXPECT_EQ(converted.changes, original.changes);
}

struct ending {
  const char* mode;
  std::map<std::string, std::string> env;
  std::set<std::string> components;
};

// Each way a run can end leaves a complete file in both formats, with the
// program's output and status as without tracing.
TEST_F(Trace, EveryEndingLeavesACompleteFile) {
  const std::vector<ending> endings = {
      {"unsettled", {}, {"doubler", "forwarder"}},
      {"exit", {}, {"doubler", "forwarder"}},
      {"fatal-main", {}, {"doubler", "forwarder"}},
      {"fatal-component", {}, {"doubler", "forwarder"}},
      {"throw", {}, {"doubler", "forwarder"}},
      {"hang", {{"QRN_HANG_AFTER", "0.2"}, {"QRN_ON_HANG", "exit"}}, {"doubler", "forwarder"}},
      {"no-components", {}, {}},
  };
  const char* schedule = std::getenv("QRN_SCHEDULE");
  const char* time = std::getenv("QRN_TIME");  // a timed run runs on fibers
  const bool fibers = (schedule != nullptr && std::string(schedule) == "fibers") ||
                      (time != nullptr && std::string(time) == "cycles");
  for (const ending& end : endings) {
    if (fibers && std::string(end.mode) == "no-components") {
      continue;  // its echo thread would use a stream from a second thread
    }
    for (const char* format : {".vcd", ".json"}) {
      SCOPED_TRACE(std::string(end.mode) + format);
      const std::string file = path(std::string(end.mode) + format);
      traced({end.mode, std::to_string(count)}, file, end.env);
      std::set<std::string> threads = end.components;
      threads.insert(std::string(format) == ".vcd" ? "test_bench" : "test bench");
      if (std::string(end.mode) == "no-components") {
        // With nothing launched the run report is written after the static
        // streams are gone, so the expectations are the program's own: the
        // echo thread takes each element it writes to `doubled` right back,
        // and `scratch` (destroyed before the end) holds two at most.
        const std::uint64_t each = 2 * count;
        const trace_view view = expect_complete(file, threads,
                                                {{"tb_in", {each, unknown_peak, 0}},
                                                 {"doubled", {each, 1, 0}},
                                                 {"results", {each, unknown_peak, 0}},
                                                 {"scratch", {4, 2, 0}}});
        EXPECT_EQ(view.threads.size(), 2u);  // the test bench and its echo thread
        EXPECT_TRUE(view.burst_moves.empty());
      } else {
        const trace_view view = expect_complete(file, threads);
        // A thread that only misused a stream or threw moved nothing: not traced.
        EXPECT_EQ(view.threads.size(), 3u);
      }
      if (testing::Test::HasFailure()) {
        return;
      }
    }
  }
}

TEST_F(Trace, TraceToNamesTheFileFromTheProgram) {
  for (const char* name : {"api.vcd", "api.json"}) {
    traced({"api", path(name), std::to_string(count)}, path("ignored.vcd"));
    expect_complete(path(name), {name[4] == 'v' ? "test_bench" : "test bench", "doubler"});
    // The program's destination replaced the one QRN_TRACE named.
    EXPECT_EQ(read_file(path("ignored.vcd")), "");
  }
}

// QRN_TRACE_LIMIT stops the recording: the file ends where it was cut and
// says so, and one line on standard error says so too.
TEST_F(Trace, LimitCutsTheTrace) {
  constexpr std::uint64_t limit = 300;
  for (const char* format : {".vcd", ".json"}) {
    SCOPED_TRACE(format);
    const std::string file = path(std::string("cut") + format);
    const process_result result =
        traced({"settled", "2000"}, file, {{"QRN_TRACE_LIMIT", std::to_string(limit)}});
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("qrn: trace cut at "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("QRN_TRACE_LIMIT=300"), std::string::npos) << result.err;
    const trace_view view = view_of(file);
    EXPECT_TRUE(view.cut);
    EXPECT_LE(view.changes, limit);
    EXPECT_GT(view.changes, 0u);
  }
}

// A bad setting gets one line on standard error; the run is otherwise as
// without it.
TEST_F(Trace, BadSettingsGetOneLine) {
  struct bad_setting {
    std::string trace;
    std::string limit;
    std::string line;  // the start of the one line on standard error
  };
  const std::vector<bad_setting> settings = {
      {path("t.txt"), "", "qrn: ignoring QRN_TRACE=" + path("t.txt")},
      {path("missing/t.vcd"), "", "qrn: cannot write the trace to " + path("missing/t.vcd")},
      {path("t.vcd"), "many", "qrn: ignoring QRN_TRACE_LIMIT=many"},
      {path("t.vcd"), "0", "qrn: ignoring QRN_TRACE_LIMIT=0"},
  };
  for (const bad_setting& setting : settings) {
    SCOPED_TRACE(setting.trace + " " + setting.limit);
    std::map<std::string, std::string> env;
    if (!setting.limit.empty()) {
      env["QRN_TRACE_LIMIT"] = setting.limit;
    }
    const process_result result = traced({"settled", "50"}, setting.trace, env);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.err.compare(0, setting.line.size(), setting.line), 0) << result.err;
    if (setting.limit.empty()) {
      EXPECT_NE(access(setting.trace.c_str(), F_OK), 0) << "a trace file was created";
    } else {  // the default limit applies
      expect_complete(setting.trace, pipeline_threads_vcd);
    }
  }
  const process_result refused = run({"api", path("t.txt"), "50"}, {});
  EXPECT_EQ(refused.out.find("trace_to refused\n"), 0u);
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  EXPECT_EQ(refused.err.find("qrn: ignoring qrn::trace_to(" + path("t.txt") + ")"), 0u)
      << refused.err;
}

}  // namespace
