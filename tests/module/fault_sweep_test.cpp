// The fault sweep on the bundled machine as it is: Windows 10, a 64-bit process, package
// volumes from the package manager.
#include "module/fault_sweep.h"

namespace qorvex::test::sweep {
namespace {

TEST_F(FaultSweepTest, EveryFailurePointGivesADefinedAnswerAndGivesEverythingBack) {
    SweepEveryOperation();
}

}  // namespace
}  // namespace qorvex::test::sweep
