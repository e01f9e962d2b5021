#include "end_of_run_report.h"

#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/settings.h"
#include "HLS/internal/stream_registry.h"
#include "depth_growth.h"
#include "report_formats.h"
#include "run_snapshot.h"
#include "settings.h"

namespace qrn_runtime {

namespace {

enum class report_kind { off, summary, table, json_file, csv_file };

struct report_setting {
  report_kind kind = report_kind::summary;
  std::string path;
};

// Never destroyed: in a program that launches no component the exit handler
// that writes the report runs after the static destructors.
report_setting& setting() {
  static auto* current = new report_setting;
  return *current;
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool shared(const qrn::internal::stream_users& users) {
  return users.several_readers() || users.several_writers();
}

// True when a live or destroyed stream holds elements, was written sideband
// it would drop or has several readers or writers, or when one cannot be looked at; cheap: no names
// are looked up.
bool any_stream_to_warn_about() {
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.retired != nullptr) {
    for (const qrn::internal::retired_stream& stream : *registry.retired) {
      if (stream.contents.occupancy != 0 || stream.dropped.any() || shared(stream.users)) {
        return true;
      }
    }
  }
  for (const qrn::internal::stream_info* stream = registry.head; stream != nullptr;
       stream = stream->next()) {
    const stream_access access(*stream, stream_access::attempt::once);
    if (!access.granted() || stream->stats().written != stream->stats().read ||
        stream->dropped().any() || shared(stream->endpoints())) {
      return true;
    }
  }
  return false;
}

}  // namespace

void configure_end_of_run_report() {
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_REPORT");
  if (!value) {
    return;
  }
  const std::string text(value.value);
  report_setting& current = setting();
  if (is_word(text, "off")) {
    current.kind = report_kind::off;
  } else if (is_word(text, "summary") || text.empty()) {
    current.kind = report_kind::summary;
  } else if (is_word(text, "table")) {
    current.kind = report_kind::table;
  } else if (ends_with(text, ".json") || ends_with(text, ".csv")) {
    const std::string reason = reason_path_is_unwritable(text);
    if (!reason.empty()) {
      std::cerr << "qrn: could not write the run report to " << text << " (" << value.source()
                << "): " << reason << "; using summary\n";
      return;
    }
    current.kind = ends_with(text, ".json") ? report_kind::json_file : report_kind::csv_file;
    current.path = text;
  } else {
    std::cerr << "qrn: ignoring QRN_REPORT=" << text << value.note()
              << ": expected off, summary, table, PATH.json or PATH.csv; using summary\n";
    qrn::internal::note_bad_setting();
  }
}

void write_end_of_run_report(int) {
  const report_setting& current = setting();
  if (current.kind == report_kind::off) {
    return;
  }
  if (current.kind == report_kind::summary && !any_stream_to_warn_about()) {
    if (depth_report_wanted()) {
      std::ostringstream text;
      write_depth_report(text, qrn::snapshot_run());
      std::cerr << text.str() << std::flush;
    }
    return;
  }
  const qrn::run_report report = qrn::snapshot_run();
  std::ostringstream text;
  write_leftover_warnings(text, report);
  write_dropped_sideband_warnings(text, report);
  write_depth_report(text, report);
  write_shared_stream_warnings(text, report);
  if (current.kind == report_kind::table) {
    text << "qrn: run report\n";
    qrn::print_run_table(text, report);
  }
  std::cerr << text.str() << std::flush;
  if (current.kind == report_kind::json_file || current.kind == report_kind::csv_file) {
    std::ofstream file(current.path, std::ios::trunc);
    if (current.kind == report_kind::json_file) {
      write_json(file, report);
    } else {
      write_csv(file, report);
    }
    file.close();
    if (!file) {
      std::cerr << "qrn: could not write the run report to " << current.path << " (QRN_REPORT)\n";
    }
  }
}

}  // namespace qrn_runtime
