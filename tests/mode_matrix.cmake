# The mode matrix: every process-level suite (a GoogleTest program whose cases
# run whole programs as children) runs each of its cases in every mode below.
# A mode is a set of settings that the suite puts into its environment
# (--qrn_mode=MODE), so every program it runs gets them; its CTest tests are
# named MODE/CASE and carry the label MODE.

# qrn_matrix_mode(<name> <runs> <setting>...): <runs> is how often the design
# driver runs a design per case in this mode (threads interleave differently
# on each run, fibers replay the same interleaving).
set(qrn_matrix_modes "")
macro(qrn_matrix_mode name runs)
  list(APPEND qrn_matrix_modes ${name})
  set(qrn_matrix_runs_${name} ${runs})
  set(qrn_matrix_env_${name} ${ARGN})
endmacro()
qrn_matrix_mode(threads 5)
qrn_matrix_mode(fibers 1 QRN_SCHEDULE=fibers)
foreach(seed RANGE 1 5)
  qrn_matrix_mode(fibers_seed${seed} 1 QRN_SCHEDULE=fibers QRN_SCHEDULE_SEED=${seed})
endforeach()
qrn_matrix_mode(declared_threads 5 QRN_DEPTH=declared)
qrn_matrix_mode(declared_fibers 1 QRN_DEPTH=declared QRN_SCHEDULE=fibers)
qrn_matrix_mode(grow 5 QRN_DEPTH=grow)
# A timed run: fibers, declared depths, and a clock per component.
qrn_matrix_mode(timed 1 QRN_TIME=cycles)

# Time budget: CI runs four full builds and must stay under 40 minutes. The
# whole matrix costs the gcc build about five minutes more; the sanitizer
# builds run tests several times slower (ThreadSanitizer's one at a time) and
# would take CI past its limit. So with QRN_FULL_MATRIX off (tests/run_all.sh:
# every build but gcc) the older suites run in these modes only, and the
# designs still in every mode.
option(QRN_FULL_MATRIX "Run every process-level suite in every mode of the matrix" ON)
set(qrn_matrix_every_build threads fibers)

# Cases left out of a mode: "SUITE CASE-PATTERN MODE-REGEX", the pattern as
# in --gtest_filter, the regex matched against the mode's name.
set(qrn_matrix_exclusions
  # A parked worker thread is the thing under test: fibers (and timed runs, on fibers) have none.
  "runtime_run_all_tests RunAll.ParkedPollerHandlesEveryInputOfEitherStream ^fibers|^declared_fibers$|^timed$"
  # A fatal read on a second thread of the bench: fibers take streams from the bench's thread only.
  "teardown_tests Endings.FatalReadAsMainReturns* ^fibers|^declared_fibers$|^timed$"
  # Timed hang looks of a threads run; fibers report a hang at once instead.
  "diagnostics_tests Diagnostics.ReportsAHangByNameAndExitsWhenAsked ^fibers|^declared_fibers$|^timed$"
  "diagnostics_tests Diagnostics.NoHangReportWhileWorkGoesOn ^fibers|^declared_fibers$|^timed$"
  "diagnostics_tests Diagnostics.SettingsAreCheckedAtStartUp ^fibers|^declared_fibers$|^timed$"
  # The reader spins on a flag that another thread sets.
  "depth_tests Depth.ByPointerWriteToAFullStreamWaitsForTheReader ^fibers|^declared_fibers$|^timed$"
  # They compare with the default, unbounded depths, which the mode's QRN_DEPTH (or the
  # declared depths a timed run implies) replaces.
  "depth_tests Depth.UnboundedRunsTheCycleAndWarnsOfEachStreamPastItsDepth ^declared|^grow$|^timed$"
  "depth_tests Depth.TryWriteOnAFullStreamReturnsFalseAndChangesNothing ^declared|^grow$|^timed$"
  # Traces follow each operation; a timed run's trace holds each stream's occupancy per cycle.
  "trace_tests Trace.* ^timed$"
  # The timed cases set QRN_TIME=cycles, which runs on fibers: the threads modes repeat the
  # fibers run, and grow changes the depths their closed forms rest on.
  "timed_tests * ^threads$|^declared_threads$|^grow$"
  # Counts the lines of runs with QRN_HANG_AFTER=0, to which QRN_DEPTH=grow adds a warning.
  "teardown_tests LocalStreams.DestroyedWhileInUseEndsPromptlyUnderEveryHangAndReportSetting ^grow$"
)

# The --gtest_filter that leaves out the excluded cases of `suite` in `mode`,
# or nothing.
function(qrn_matrix_filter suite mode out)
  set(patterns "")
  foreach(row ${qrn_matrix_exclusions})
    string(REPLACE " " ";" row "${row}")
    list(GET row 0 row_suite)
    list(GET row 1 row_pattern)
    list(GET row 2 row_modes)
    if(row_suite STREQUAL suite AND mode MATCHES "${row_modes}")
      list(APPEND patterns ${row_pattern})
    endif()
  endforeach()
  list(JOIN patterns ":" joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# qrn_add_matrix_suite(<name> [MODES_IN_CASE_NAMES] <source>...): a
# GoogleTest program run in every mode of the matrix, each case with a
# timeout. With MODES_IN_CASE_NAMES each case sets its own mode's settings and
# is named ...__MODE (the design driver): each mode runs the cases whose names
# end in __MODE, and exclusions are the program's own.
function(qrn_add_matrix_suite name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MODES_IN_CASE_NAMES" "" "")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE qrn_test_main)
  foreach(mode ${qrn_matrix_modes})
    if(arg_MODES_IN_CASE_NAMES)
      set(discover_args TEST_FILTER "*__${mode}" NO_PRETTY_VALUES)
    elseif(QRN_FULL_MATRIX OR mode IN_LIST qrn_matrix_every_build)
      set(discover_args EXTRA_ARGS --qrn_mode=${mode})
      qrn_matrix_filter(${name} ${mode} excluded)
      if(excluded)
        list(APPEND discover_args TEST_FILTER "-${excluded}")
      endif()
    else()
      continue()
    endif()
    gtest_discover_tests(${name} TEST_PREFIX "${mode}/" ${discover_args} DISCOVERY_TIMEOUT 120
                         PROPERTIES LABELS ${mode} TIMEOUT 300)
  endforeach()
endfunction()

# The modes as a C++ table for the design driver: {"NAME", {"SETTING", ...}, RUNS},
set(qrn_matrix_modes_table "")
foreach(mode ${qrn_matrix_modes})
  set(settings "")
  foreach(setting ${qrn_matrix_env_${mode}})
    list(APPEND settings "\"${setting}\"")
  endforeach()
  list(JOIN settings ", " settings)
  string(APPEND qrn_matrix_modes_table
         "{\"${mode}\", {${settings}}, ${qrn_matrix_runs_${mode}}},\n")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/matrix_modes.inc
     CONTENT "// Generated from tests/mode_matrix.cmake.\n${qrn_matrix_modes_table}")
