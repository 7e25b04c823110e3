#!/usr/bin/env bash
# qorvex-host as a user meets it: `chain` in text and JSON, --help with every exit code, usage
# errors (as JSON on stdout with --json), and output that cannot be written.
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

# --help: usage on stdout, success, and every exit code explained.
run --help
[[ $code == 0 ]] || fail "--help exited with $code"
grep -q '^usage: qorvex-host' "$work/out" || fail "--help printed no usage"
for exit_code in 0 1 2 3 4 5 6; do
    grep -q "^  $exit_code  [a-z]" "$work/out" || fail "--help does not explain exit code $exit_code"
done

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

# With --json, a usage error is JSON on stdout as well, wherever --json stands.
for args in "--json --bogus" "--json frobnicate" "chain --json extra" "--json --module"; do
    # shellcheck disable=SC2086
    run $args
    [[ $code == 2 ]] || fail "'$args' exited with $code, not 2"
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert list(d) == ["error"], d' \
        "$work/out" || fail "'$args' printed no JSON error: $(cat "$work/out")"
done

# Output that cannot be written is an error, with the reason.
"$host" chain >/dev/full 2>"$work/err"
code=$?
[[ $code == 1 ]] || fail "chain > /dev/full exited with $code, not 1"
grep -qxF "qorvex-host: cannot write the output: No space left on device" "$work/err" ||
    fail "chain > /dev/full: no reason: $(cat "$work/err")"

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
