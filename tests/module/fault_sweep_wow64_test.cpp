// The fault sweep on Windows 8.1 as a 32-bit process on 64-bit Windows: no package volumes, so
// the default package folder is looked up with the file system redirection turned off.
#include "module/fault_sweep.h"

namespace qorvex::test::sweep {
namespace {

class Wow64FaultSweepTest : public FaultSweepTest {
protected:
    void ShapeMachine() override {
        winsim::OsVersion os;
        os.major = 6;
        os.minor = 3;
        os.build = 9600;
        os.wow64 = true;
        winsim::SetOs(os);
        winsim::PutDirectory(u"C:\\Program Files\\WindowsApps");
    }
};

TEST_F(Wow64FaultSweepTest, EveryFailurePointGivesADefinedAnswerAndGivesEverythingBack) {
    SweepEveryOperation();
}

}  // namespace
}  // namespace qorvex::test::sweep
