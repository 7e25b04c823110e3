#!/usr/bin/env bash
# qorvex-host as a user meets it: `chain` in text and JSON, --help, and usage errors.
# Usage: qorvex_host.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs qorvex-host with the given arguments; sets $code and fills $work/out and $work/err.
run() {
    "$host" "$@" >"$work/out" 2>"$work/err"
    code=$?
}

# --help: usage on stdout, success.
run --help
[[ $code == 0 ]] || fail "--help exited with $code"
grep -q '^usage: qorvex-host' "$work/out" || fail "--help printed no usage"

# chain --json: every step in order, a failure code exactly when the exit code says so, and the
# module unloadable (and unloaded) at the end.
run --json chain
python3 - "$work/out" "$code" <<'PY' || status=1
import json, sys

path, code = sys.argv[1], int(sys.argv[2])
try:
    doc = json.load(open(path))
except ValueError as error:
    print(f"FAIL: chain --json printed no JSON ({error}): {open(path).read()!r}")
    sys.exit(1)

ok = True
def check(condition, message):
    global ok
    if not condition:
        print("FAIL:", message)
        ok = False

steps = doc.get("steps", [])
expected = [
    ("zefGetObjectFactory", "ModuleFactoryProvider"),
    ("CreateInstance", "ModuleFactoryProvider"),
    ("GetObjectFactory", "TcgLogProviderImpl"),
    ("CreateInstance", "TcgLogProviderImpl"),
    ("GetObjectFactory", "AppRemediationImpl"),
    ("CreateInstance", "AppRemediationImpl"),
]
check([(s.get("step"), s.get("class")) for s in steps] == expected, f"unexpected steps: {steps}")
for step in steps[:3] + steps[4:5]:
    check(step.get("result") == "0x00000000" and step.get("message") == "No error",
          f"step failed: {step}")
for step in steps:
    result = step.get("result", "")
    check(len(result) == 10 and result.startswith("0x"), f"result not 0x + 8 digits: {step}")
    if result == "0x80000043":
        check(step.get("message") == "Not implemented", f"wrong message: {step}")
failed = any(int(s["result"], 16) & 0x80000000 for s in steps if "result" in s)
check(code == (3 if failed else 0), f"exit code {code} but a step failed: {failed}")
check(doc.get("canUnload") == "0x00000000", f"canUnload: {doc.get('canUnload')}")
check(doc.get("unloaded") is True, "module not unloaded")
sys.exit(0 if ok else 1)
PY

# chain is the default command, and text output ends with the unload check.
run
[[ $code == 0 || $code == 3 ]] || fail "plain run exited with $code"
grep -q '^zefGetObjectFactory(ModuleFactoryProvider): 0x00000000 No error$' "$work/out" ||
    fail "text output lacks the export step: $(cat "$work/out")"
grep -q '^zefCanUnloadModule: 0x00000000 No error (module unloaded)$' "$work/out" ||
    fail "text output lacks the unload check: $(cat "$work/out")"

# Usage errors: message and usage on stderr, exit code 2.
for args in "--bogus" "frobnicate" "chain extra" "--module"; do
    # shellcheck disable=SC2086
    run $args
    [[ $code == 2 ]] || fail "'$args' exited with $code, not 2"
    grep -q '^usage: qorvex-host' "$work/err" || fail "'$args' printed no usage on stderr"
done

# A module that cannot be loaded is not a usage error.
run --module "$work/missing.so"
[[ $code == 1 ]] || fail "--module with a missing file exited with $code, not 1"
grep -q 'missing.so' "$work/err" || fail "no message naming the missing module"

if [[ $(uname -s) == Linux ]]; then
    run --machine "$work/no-such-machine"
    [[ $code == 1 ]] || fail "--machine with a missing folder exited with $code, not 1"
fi

((status == 0)) && echo "ok: qorvex-host"
exit $status
