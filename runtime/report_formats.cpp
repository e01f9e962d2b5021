#include "report_formats.h"

#include <algorithm>
#include <iomanip>
#include <string>
#include <vector>

#include "json_string.h"
#include "timed_report.h"

namespace qrn_runtime {

namespace {

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  }
  return quoted + "\"";
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

// The stream a component waits on: to read it, or "NAME (to write)".
std::string waiting_text(const qrn::component_report& component) {
  if (component.waiting_on.empty() && !component.waiting_to_write.empty()) {
    return component.waiting_to_write + " (to write)";
  }
  return component.waiting_on;
}

// "a, b and c"
std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return text;
}

void warn_if_shared(std::ostream& out, const qrn::stream_report& s,
                    const std::vector<std::string>& users, const char* role) {
  if (users.size() > 1) {
    out << "qrn: warning: stream " << s.name << " (" << s.type << ") has " << users.size() << ' '
        << role << "s, where one is expected: " << listed(users) << '\n';
  }
}

// {"NAME": CYCLES, ...}
std::string stalls_json(const std::vector<qrn::stall_cycles>& stalls) {
  std::string text = "{";
  for (const qrn::stall_cycles& stall : stalls) {
    text += (text.size() > 1 ? ", " : "") + json_string(stall.stream) + ": " +
            std::to_string(stall.cycles);
  }
  return text + "}";
}

}  // namespace

void write_json(std::ostream& out, const qrn::run_report& report) {
  out << "{\n  \"streams\": [";
  const char* separator = "\n";
  for (const qrn::stream_report& s : report.streams) {
    out << separator << "    {\"name\": " << json_string(s.name)
        << ", \"type\": " << json_string(s.type) << ", \"written\": " << s.written
        << ", \"read\": " << s.read << ", \"peak\": " << s.peak
        << ", \"occupancy\": " << s.occupancy << ", \"asleep_seconds\": " << s.asleep_seconds
        << ", \"first_values\": " << json_string(s.first_values)
        << ", \"destroyed\": " << (s.destroyed ? "true" : "false")
        << ", \"busy\": " << (s.busy ? "true" : "false") << ", \"depth\": ";
    if (s.depth == 0) {
      out << "null";
    } else {
      out << s.depth;
    }
    if (report.cycles.timed) {
      const qrn::stream_cycles& c = s.cycles;
      out << R"(, "cycles": {"elements": )" << c.elements << ", \"peak\": " << c.peak
          << ", \"average_occupancy\": " << c.average_occupancy
          << ", \"cycles_full\": " << c.cycles_full << ", \"cycles_empty\": " << c.cycles_empty
          << ", \"reader_stalls\": " << c.reader_stalls
          << ", \"writer_stalls\": " << c.writer_stalls
          << ", \"bench_elements_per_cycle\": " << c.bench_elements_per_cycle << "}";
    }
    out << "}";
    separator = ",\n";
  }
  out << "\n  ],\n  \"components\": [";
  separator = "\n";
  for (const qrn::component_report& c : report.components) {
    out << separator << "    {\"name\": " << json_string(c.name) << ", \"calls\": " << c.calls
        << ", \"moving_calls\": " << c.moving_calls << ", \"asleep_seconds\": " << c.asleep_seconds
        << ", \"waiting_on\": " << json_string(c.waiting_on)
        << ", \"last_empty\": " << json_string(c.last_empty)
        << ", \"task\": " << (c.task ? "true" : "false")
        << ", \"ended\": " << (c.ended ? "true" : "false")
        << ", \"waiting_to_write\": " << json_string(c.waiting_to_write)
        << ", \"stopped\": " << (c.stopped ? "true" : "false");
    if (report.cycles.timed) {
      out << R"(, "cycles": {"busy": )" << c.cycles.busy << ", \"clock\": " << c.cycles.clock
          << ", \"stalled_on_inputs\": " << stalls_json(c.cycles.inputs)
          << ", \"stalled_on_outputs\": " << stalls_json(c.cycles.outputs)
          << ", \"iterations\": " << c.cycles.iterations
          << ", \"utilisation\": " << c.cycles.utilisation << "}";
    }
    out << "}";
    separator = ",\n";
  }
  out << "\n  ]";
  if (report.cycles.timed) {
    out << ",\n  \"cycles\": {\"total\": " << report.cycles.total << ", \"first_output\": ";
    if (report.cycles.any_output) {
      out << report.cycles.first_output;
    } else {
      out << "null";
    }
    out << ", \"bottleneck\": " << json_string(report.cycles.bottleneck)
        << R"(, "critical_path": {"cycles": )" << report.cycles.critical_path_cycles
        << ", \"complete\": " << (report.cycles.critical_path_complete ? "true" : "false")
        << ", \"causes\": [";
    separator = "";
    for (const qrn::path_cycles& cause : report.cycles.critical_path) {
      out << separator << "{\"cause\": " << json_string(cause.cause)
          << ", \"cycles\": " << cause.cycles << "}";
      separator = ", ";
    }
    out << "]}}";
  }
  out << "\n}\n";
}

void write_csv(std::ostream& out, const qrn::run_report& report) {
  out << "kind,name,type,written,read,peak,occupancy,asleep_seconds,calls,moving_calls,"
         "waiting_on,task,ended,depth";
  if (report.cycles.timed) {
    out << ",elements,peak_in_cycles,average_occupancy,cycles_full,cycles_empty,reader_stalls,"
           "writer_stalls,busy_cycles,clock,utilisation";
  }
  out << '\n';
  for (const qrn::stream_report& s : report.streams) {
    out << "stream," << csv_field(s.name) << ',' << csv_field(s.type) << ',' << s.written << ','
        << s.read << ',' << s.peak << ',' << s.occupancy << ',' << s.asleep_seconds << ",,,,,,"
        << (s.depth == 0 ? std::string() : std::to_string(s.depth));
    if (report.cycles.timed) {
      const qrn::stream_cycles& c = s.cycles;
      out << ',' << c.elements << ',' << c.peak << ',' << c.average_occupancy << ','
          << c.cycles_full << ',' << c.cycles_empty << ',' << c.reader_stalls << ','
          << c.writer_stalls << ",,,";
    }
    out << '\n';
  }
  for (const qrn::component_report& c : report.components) {
    out << "component," << csv_field(c.name) << ",,,,,," << c.asleep_seconds << ',' << c.calls
        << ',' << c.moving_calls << ',' << csv_field(c.waiting_on) << ',' << c.task << ','
        << c.ended << ',';
    if (report.cycles.timed) {
      out << ",,,,,,,," << c.cycles.busy << ',' << c.cycles.clock << ',' << c.cycles.utilisation;
    }
    out << '\n';
  }
}

void write_leftover_warnings(std::ostream& out, const qrn::run_report& report) {
  for (const qrn::stream_report& s : report.streams) {
    if (s.occupancy == 0) {
      continue;
    }
    out << "qrn: warning: stream " << s.name << " (" << s.type << ") was left holding "
        << s.occupancy << (s.occupancy == 1 ? " element" : " elements");
    if (s.read == 0) {
      out << "; nobody ever read it";
    } else {
      out << "; " << s.read << " of " << s.written << " written were read";
    }
    if (s.printable) {
      out << ": " << s.first_values << (s.occupancy > 4 ? ", ..." : "");
    }
    out << '\n';
  }
}

void write_dropped_sideband_warnings(std::ostream& out, const qrn::run_report& report) {
  for (const qrn::stream_report& s : report.streams) {
    if (!s.drops_packet_flags && !s.drops_empty_counts) {
      continue;
    }
    out << "qrn: warning: stream " << s.name << " (" << s.type << ") was written ";
    if (s.drops_packet_flags) {
      out << "start/end-of-packet flags without qrn::usesPackets<true>"
          << (s.drops_empty_counts ? " and " : "");
    }
    if (s.drops_empty_counts) {
      out << "nonzero empty counts without qrn::usesEmpty<true>";
    }
    out << "; its hardware interface would drop them\n";
  }
}

void write_shared_stream_warnings(std::ostream& out, const qrn::run_report& report) {
  for (const qrn::stream_report& s : report.streams) {
    warn_if_shared(out, s, s.readers, "reader");
    warn_if_shared(out, s, s.writers, "writer");
  }
}

}  // namespace qrn_runtime

namespace qrn {

void print_run_table(std::ostream& out, const run_report& report) {
  std::size_t name_width = 9;
  std::size_t type_width = 4;
  for (const stream_report& s : report.streams) {
    name_width = std::max(name_width, s.name.size());
    type_width = std::max(type_width, s.type.size());
  }
  for (const component_report& c : report.components) {
    name_width = std::max(name_width, c.name.size());
  }
  const std::ios_base::fmtflags flags = out.flags();
  out << std::left << std::setw(static_cast<int>(name_width)) << "stream"
      << "  " << std::setw(static_cast<int>(type_width)) << "type" << std::right << std::setw(12)
      << "written" << std::setw(12) << "read" << std::setw(10) << "peak" << std::setw(10) << "now"
      << std::setw(12) << "asleep s" << std::setw(8) << "depth" << '\n';
  out << std::fixed << std::setprecision(3);
  for (const stream_report& s : report.streams) {
    out << std::left << std::setw(static_cast<int>(name_width)) << s.name << "  "
        << std::setw(static_cast<int>(type_width)) << s.type << std::right;
    if (s.busy) {
      out << "  (busy: its lock stayed taken)\n";
      continue;
    }
    out << std::setw(12) << s.written << std::setw(12) << s.read << std::setw(10) << s.peak
        << std::setw(10) << s.occupancy << std::setw(12) << s.asleep_seconds << std::setw(8)
        << (s.depth == 0 ? std::string("-") : std::to_string(s.depth))
        << (s.destroyed ? "  (destroyed)" : "") << '\n';
  }
  if (!report.components.empty()) {
    out << std::left << std::setw(static_cast<int>(name_width)) << "component" << std::right
        << std::setw(14) << "calls" << std::setw(14) << "moving calls" << std::setw(12)
        << "asleep s"
        << "  waiting on\n";
    for (const component_report& c : report.components) {
      out << std::left << std::setw(static_cast<int>(name_width)) << c.name << std::right
          << std::setw(14) << qrn_runtime::calls_shown(c) << std::setw(14) << c.moving_calls
          << std::setw(12) << c.asleep_seconds << "  "
          << qrn_runtime::or_dash(qrn_runtime::waiting_text(c));
      const char* state = c.stopped ? "stopped" : c.ended ? "ended" : c.task ? "task" : nullptr;
      if (state != nullptr) {
        out << "  (" << state << (c.cycles.iterations != 0 ? "; calls: its iterations" : "") << ')';
      }
      out << '\n';
    }
  }
  out.flags(flags);
  qrn_runtime::print_cycle_table(out, report);
}

void print_run_table(std::ostream& out) { print_run_table(out, snapshot_run()); }

}  // namespace qrn
