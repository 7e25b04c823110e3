#!/usr/bin/env bash
# qorvex-host is-store-app and remediate on the bundled machine: text and JSON answers, the
# package states a remediation set, and the exit codes that summarise the answers.
# Usage: store_app_cli.sh <qorvex-host> <repo root> <shared dir>
set -uo pipefail

host=$1
machine=$2/examples/machine
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() {
    "$host" --machine "$machine" "$@" >"$work/out" 2>"$work/err"
    code=$?
}

notes='C:\Program Files\WindowsApps\Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g'
maps='D:\WindowsApps\Contoso.Maps_3.1.0.0_x64__9zyx8wvu7tsrq\maps.exe'
lock='C:\Windows\SystemApps\Microsoft.LockApp_cw5n1h2txyewy\LockApp.exe'
doc='C:\Users\ann\Documents\todo.txt'

# Exit codes: every answer 0; some answer 1; a failure; a usage error.
while IFS='|' read -r expected args; do
    eval "run $args"
    [[ $code == "$expected" ]] || fail "$args exited with $code, not $expected: $(cat "$work/err" | tail -3)"
done <<EOT
0|is-store-app "$notes\\notes.exe" "$maps" "$lock"
4|is-store-app "$notes\\notes.exe" "$doc"
0|is-store-app --cache "$notes\\NOTES.EXE"
4|is-store-app --cache "$doc"
0|remediate 'C:\Users\ann\Downloads\notes.exe'
4|remediate "$doc"
3|remediate ''
2|is-store-app
2|remediate
2|is-store-app --bogus x
EOT

run --json is-store-app --cache "$notes\\notes.exe" "$doc"
python3 - "$work/out" "$notes" "$doc" <<'PY' || status=1
import json, sys
out = json.load(open(sys.argv[1]))
notes, doc = sys.argv[2], sys.argv[3]
assert list(out) == ["cache", "results"], out
assert out["cache"] == {"result": "0x00000000", "message": "No error"}, out
assert out["results"] == [
    {"path": notes + "\\notes.exe", "result": "0x00000000", "message": "No error"},
    {"path": doc, "result": "0x00000001", "message": "False"}], out
PY

# The download is hard-linked into the Notes package; the system app is a package of its own.
run --json remediate 'C:\Users\ann\Downloads\notes.exe' "$lock"
python3 - "$work/out" <<'PY' || status=1
import json, sys
out = json.load(open(sys.argv[1]))
assert list(out) == ["results", "setPackageState"], out
assert [r["result"] for r in out["results"]] == ["0x00000000", "0x00000000"], out
assert out["setPackageState"] == [
    {"fullName": "Acme.Notes_1.4.2.0_x64__a1b2c3d4e5f6g", "hresult": "0x00000000"},
    {"fullName": "Microsoft.LockApp_10.0.19041.3636_neutral__cw5n1h2txyewy",
     "hresult": "0x00000000"}], out
PY
run --json remediate "$doc"
grep -q '"setPackageState": \[\]' "$work/out" || fail "no empty setPackageState: $(cat "$work/out")"
run remediate 'C:\Users\ann\Downloads\notes.exe'
grep -q '^C:\\Users\\ann\\Downloads\\notes.exe: 0x00000000 No error$' "$work/out" ||
    fail "text answer: $(cat "$work/out")"
grep -q 'GetHardlinks: C:\\Program Files' "$work/err" || fail "no hard-link trace"

exit $status
