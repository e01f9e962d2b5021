// Linked first into launched_during_static_init: the global helper below is
// constructed during this translation unit's static initialisation, which
// runs before the worker of `polling_doubler`'s task is constructed. Its
// constructor launches the component.
#include "runtime/programs/polling_doubler_component.h"

struct global_helper {
  global_helper() { launch_polling_doubler(); }
} helper;
