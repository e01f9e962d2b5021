// The modes of the test matrix (tests/mode_matrix.cmake): the settings a
// process-level suite gives every program it runs.
#ifndef QRN_TESTS_SUPPORT_MATRIX_MODES_H
#define QRN_TESTS_SUPPORT_MATRIX_MODES_H

#include <string>
#include <vector>

namespace qrn_test {

struct matrix_mode {
  std::string name;
  std::vector<std::string> env;  // "NAME=VALUE" settings
  int runs;  // how often a design runs in this mode: threads interleave differently on each
             // run, fibers replay one interleaving
};

// Every mode, in the matrix's order.
const std::vector<matrix_mode>& matrix_modes();

// Puts the settings of the mode named `name` into this process's environment,
// so that every program run from now on gets them. False, changing nothing,
// for a name that is not a mode. Not thread-safe: call it before any test.
bool enter_matrix_mode(const std::string& name);

}  // namespace qrn_test

#endif  // QRN_TESTS_SUPPORT_MATRIX_MODES_H
