// QRN_DEPTH=grow: a run stuck with a writer held by a full stream goes on
// with that stream one element deeper; the end of the run lists the depths
// the run needed. Also the end-of-run warnings of the unbounded mode about
// streams that held more than a depth that could deadlock.
#ifndef QRN_RUNTIME_DEPTH_GROWTH_H
#define QRN_RUNTIME_DEPTH_GROWTH_H

#include <ostream>

#include "HLS/diagnostics.h"

namespace qrn_runtime {

// Grows, by one element, the full stream of least capacity that a writer
// sleeps on, preferring those whose reader is not itself asleep on another
// full stream; false when no writer sleeps on a full stream. Once growing has
// gone on for a second, says how far it has got, once a second. Called by
// the hang watch when the run is stuck; the streams' mutexes are only tried.
bool grow_a_held_stream();

// The end-of-run lines about depths: each stream that had to grow (its depth
// and the depth the run needed) and, in the unbounded mode, each stream of
// `report` whose peak exceeded its depth; then the unused overrides.
void write_depth_report(std::ostream& out, const qrn::run_report& report);

// True when write_depth_report() may have something to say about streams.
bool depth_report_wanted();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_DEPTH_GROWTH_H
