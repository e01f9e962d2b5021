#include "timed_report.h"

#include <algorithm>
#include <iomanip>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/timed_run.h"
#include "critical_path.h"
#include "run_snapshot.h"
#include "timed_totals.h"

namespace qrn_runtime {

namespace {

std::string stream_named(std::uint32_t serial, const std::map<std::uint64_t, std::string>& names) {
  const auto stream = names.find(serial);
  return "stream " + (stream != names.end() ? stream->second : std::string("?"));
}

std::string component_named(std::uint32_t slot) {
  const qrn::internal::component_clock* clock = clock_of_slot(slot);
  for (const qrn::internal::always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (&record->clock == clock) {
      return component_name(*record);
    }
  }
  return "a task invocation";
}

// What a cause of the critical path stands for, by name.
std::string cause_name(path_cause cause, const std::map<std::uint64_t, std::string>& names) {
  const std::uint32_t subject = subject_of(cause);
  switch (kind_of(cause)) {
    case path_cause_kind::pace:
      return component_named(subject) + " pace";
    case path_cause_kind::latency:
      return component_named(subject) + " latency";
    case path_cause_kind::transfer:
      return stream_named(subject, names) + " latency";
    case path_cause_kind::shallow:
      return stream_named(subject, names) + " too shallow";
    case path_cause_kind::bench_pace:
      return "the test bench's pace on " + stream_named(subject, names);
    case path_cause_kind::bench_stall:
      return "the test bench's stall model on " + stream_named(subject, names);
    case path_cause_kind::none:
      break;
  }
  return "the run's start";
}

// The causes of the path by name, most cycles first (ties by name), and
// the bottleneck line's text: the first, then up to two more of at least 5 %.
void name_critical_path(const critical_path& path, qrn::design_cycles& cycles,
                        const std::map<std::uint64_t, std::string>& names) {
  cycles.critical_path_cycles = path.cycles;
  cycles.critical_path_complete = path.complete;
  for (const path_share& share : path.shares) {
    if (share.cycles > 0) {
      cycles.critical_path.push_back({cause_name(share.cause, names), share.cycles});
    }
  }
  std::sort(cycles.critical_path.begin(), cycles.critical_path.end(),
            [](const qrn::path_cycles& a, const qrn::path_cycles& b) {
              return a.cycles != b.cycles ? a.cycles > b.cycles : a.cause < b.cause;
            });
  if (path.cycles == 0) {
    return;
  }
  const auto total = static_cast<std::int64_t>(path.cycles);
  for (std::size_t i = 0; i < cycles.critical_path.size() && i < 3; ++i) {
    const qrn::path_cycles& cause = cycles.critical_path[i];
    const std::int64_t percent = (cause.cycles * 100 + total / 2) / total;
    if (i != 0 && percent < 5) {
      break;
    }
    cycles.bottleneck += (i != 0 ? ", " : "") + cause.cause + ' ' + std::to_string(percent) + " %";
  }
}

bool listed(const std::vector<std::string>& users, const std::string& user) {
  for (const std::string& listed_user : users) {
    if (listed_user == user) {
      return true;
    }
  }
  return false;
}

}  // namespace

void fill_stream_cycles(const qrn::internal::stream_cycle_stats& stats,
                        qrn::stream_report& report) {
  qrn::stream_cycles& cycles = report.cycles;
  cycles.elements = stats.elements;
  cycles.peak = stats.peak;
  cycles.average_occupancy = stats.span != 0 ? static_cast<double>(stats.occupancy_cycles) /
                                                   static_cast<double>(stats.span)
                                             : 0;
  cycles.cycles_full = stats.cycles_full;
  cycles.cycles_empty = stats.cycles_empty;
  cycles.reader_stalls = stats.reader_stalls;
  cycles.writer_stalls = stats.writer_stalls;
  if (stats.bench_reads > 1) {
    cycles.bench_elements_per_cycle =
        static_cast<double>(stats.bench_reads - 1) /
        static_cast<double>(stats.last_bench_read + 1 - stats.first_bench_read);
  }
}

void fill_design_cycles(qrn::run_report& report,
                        const std::map<std::uint64_t, std::string>& names) {
  if (!qrn::internal::timed_run()) {
    return;
  }
  const design_cycles& totals = design_totals();
  report.cycles.timed = true;
  report.cycles.total = totals.cycles;
  report.cycles.any_output = totals.first_bench_read != 0;
  report.cycles.first_output = report.cycles.any_output ? totals.first_bench_read - 1 : 0;
  name_critical_path(
      walk_critical_path(totals.last_output != 0 ? totals.last_output_event : totals.last_event),
      report.cycles, names);
  for (qrn::component_report& component : report.components) {
    const std::string user = "component " + component.name;
    for (const qrn::stream_report& stream : report.streams) {
      if (listed(stream.readers, user)) {
        component.cycles.inputs.push_back({stream.name, stream.cycles.reader_stalls});
      }
      if (listed(stream.writers, user)) {
        component.cycles.outputs.push_back({stream.name, stream.cycles.writer_stalls});
      }
    }
    if (totals.cycles != 0) {
      component.cycles.utilisation =
          static_cast<double>(std::min(component.cycles.busy, totals.cycles)) /
          static_cast<double>(totals.cycles);
    }
  }
}

std::uint64_t calls_shown(const qrn::component_report& component) {
  return component.cycles.iterations != 0 ? component.cycles.iterations : component.calls;
}

void print_cycle_table(std::ostream& out, const qrn::run_report& report) {
  if (!report.cycles.timed) {
    return;
  }
  std::size_t name_width = 9;
  for (const qrn::stream_report& s : report.streams) {
    name_width = std::max(name_width, s.name.size());
  }
  for (const qrn::component_report& c : report.components) {
    name_width = std::max(name_width, c.name.size());
  }
  const int width = static_cast<int>(name_width);
  const std::ios_base::fmtflags flags = out.flags();
  out << std::left << std::setw(width) << "stream" << std::right << std::setw(10) << "elements"
      << std::setw(8) << "peak" << std::setw(10) << "average" << std::setw(10) << "full"
      << std::setw(10) << "empty" << std::setw(14) << "reader stall" << std::setw(14)
      << "writer stall"
      << "  (cycles)\n";
  out << std::fixed << std::setprecision(2);
  for (const qrn::stream_report& s : report.streams) {
    out << std::left << std::setw(width) << s.name << std::right << std::setw(10)
        << s.cycles.elements << std::setw(8) << s.cycles.peak << std::setw(10)
        << s.cycles.average_occupancy << std::setw(10) << s.cycles.cycles_full << std::setw(10)
        << s.cycles.cycles_empty << std::setw(14) << s.cycles.reader_stalls << std::setw(14)
        << s.cycles.writer_stalls << '\n';
  }
  if (!report.components.empty()) {
    out << std::left << std::setw(width) << "component" << std::right << std::setw(10) << "calls"
        << std::setw(10) << "busy" << std::setw(10) << "clock" << std::setw(8) << "util"
        << "  stalled on (cycles)\n";
    for (const qrn::component_report& c : report.components) {
      out << std::left << std::setw(width) << c.name << std::right << std::setw(10)
          << calls_shown(c) << std::setw(10) << c.cycles.busy << std::setw(10) << c.cycles.clock
          << std::setw(6) << std::setprecision(0) << c.cycles.utilisation * 100 << " % ";
      for (const qrn::stall_cycles& input : c.cycles.inputs) {
        out << ' ' << input.stream << " (in) " << input.cycles;
      }
      for (const qrn::stall_cycles& output : c.cycles.outputs) {
        out << ' ' << output.stream << " (out) " << output.cycles;
      }
      out << '\n';
    }
  }
  out << "timed run: " << report.cycles.total << " cycles";
  if (report.cycles.any_output) {
    out << "; first output at cycle " << report.cycles.first_output;
  }
  out << std::setprecision(3);
  for (const qrn::stream_report& s : report.streams) {
    if (s.cycles.bench_elements_per_cycle != 0) {
      out << "; " << s.name << ' ' << s.cycles.bench_elements_per_cycle << " per cycle";
    }
  }
  out.flags(flags);
  out << '\n';
  if (!report.cycles.bottleneck.empty()) {
    out << "bottleneck: " << report.cycles.bottleneck << '\n';
  }
}

}  // namespace qrn_runtime
