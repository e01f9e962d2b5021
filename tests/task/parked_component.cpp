#include "task/parked_component.h"

namespace qrn_test {

component_record parked_records[parked_component_count];
qrn::internal::stream<int> never_written;

}  // namespace qrn_test
