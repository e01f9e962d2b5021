#include "support/matrix_modes.h"

#include <cstdlib>

namespace qrn_test {

const std::vector<matrix_mode>& matrix_modes() {
  static const std::vector<matrix_mode> modes = {
#include "matrix_modes.inc"
  };
  return modes;
}

bool enter_matrix_mode(const std::string& name) {
  for (const matrix_mode& mode : matrix_modes()) {
    if (mode.name != name) {
      continue;
    }
    for (const std::string& setting : mode.env) {
      const std::string::size_type equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    return true;
  }
  return false;
}

}  // namespace qrn_test
