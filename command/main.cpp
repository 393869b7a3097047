// The velmar shell: the Tcl main loop with the velmar package.
#include <tcl.h>

#include <new>

#include "command/package.h"
#include "foundation/pool_allocator.h"

// Application-init hook of the Tcl main loop: sets up the package only (no
// Tcl script library, no start-up file).
extern "C" int Tcl_AppInit(Tcl_Interp* interp) {
  return velmar::PackageInit(interp);
}

int main(int argc, char** argv) {
  // Exhausted memory anywhere ends the process with the one message.
  std::set_new_handler(velmar::OutOfMemory);
  Tcl_Main(argc, argv, Tcl_AppInit);
  return 0;
}
