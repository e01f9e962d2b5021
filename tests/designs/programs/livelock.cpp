// A livelock: the bench waits for an answer while every component only polls
// streams that no one writes. `server` is a task looping for ever over
// requests, `arbiter` an always-running component polling grants. The run
// must be reported as stuck, naming both pollers and their streams, and end
// with status 1.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

void server(qrn::stream_in<int>& requests, qrn::stream_out<int>& answers) {
  for (;;) {
    bool ok = false;
    const int request = requests.tryRead(ok);
    if (ok) {
      answers.write(request + 1);
    }
  }
}

void arbiter(qrn::stream_in<int>& grants, qrn::stream_in<int>& requests) {
  bool ok = false;
  const int grant = grants.tryRead(ok);
  if (ok) {
    requests.write(grant);
  }
}

int main() {
  qrn::stream_in<int> requests{"requests"}, grants{"grants"};
  qrn::stream_out<int> answers{"answers"};
  qrn::launch_task<server>(requests, answers);
  qrn::launch_always_run<arbiter>(grants, requests);
  std::printf("waiting for an answer\n");
  std::fflush(stdout);
  std::printf("answer %d\n", answers.read());
  return 0;
}
