// What a host compiles: every public interface header. tests/boundary/interfaces_refuse_32_bit.sh
// compiles it for 64 bits, where it must build, and for 32 bits, where it must stop with the
// interface headers' message.
#include "qorvex/app_remediation.h"
#include "qorvex/module.h"
#include "qorvex/tcg_log.h"

int main() {
    return qorvex::kClassAppRemediation == 0 ? 1 : 0;
}
