// Compiled with the include path of the module's own libraries, this must fail: module code
// cannot see the simulated machine's controls. tests/CMakeLists.txt checks that it does.
#include <winsim/sim.h>

int ReachesTheControls() {
    winsim::Reset();
    return 0;
}
