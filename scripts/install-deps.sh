#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing qorvex need, and only those that
# are missing: when everything is present it changes nothing and asks no server.
#   scripts/install-deps.sh            install what is missing (as root)
#   scripts/install-deps.sh --check    list what is missing; exit 1 if anything is
set -euo pipefail

# cmake, ninja-build, g++        the Linux build (default, asan presets)
# lld                            links the Linux builds (several times faster than ld.bfd)
# clang, libclang-rt-14-dev      the fuzz preset: libFuzzer and clang's sanitizer runtimes
# googletest                     GoogleTest sources, cross-built for the Windows tests
# libgtest-dev, libgmock-dev     GoogleTest and GoogleMock for the Linux tests
# libbenchmark-dev               Google Benchmark
# g++-mingw-w64-x86-64           the Windows cross compilers (brings the -posix variant)
# wine, wine64                   runs the Windows tests; wine brings the `wine` launcher
# clang-format                   the house format
# python3                        the command-line tests read the host's JSON output
# zip                            scripts/package.sh packs the Windows SDK
# tpm2-tools                     tpm2_eventlog, the independent PCR replay the log reader is checked
#                                against, and what bench/tcg_log_vs_tpm2.sh compares with
# time                           /usr/bin/time, peak memory in bench/tcg_log_vs_tpm2.sh
# libssl-dev                     OpenSSL's libcrypto (headers and the static archive): digests,
#                                signatures and certificates of the host and the tools on Linux
# swtpm, swtpm-tools             a TPM 2.0 as a process, for the quote tests (tests/scripts/lib/swtpm.sh)
# libtss2-tcti-swtpm0            lets tpm2-tools talk to swtpm (TPM2TOOLS_TCTI=swtpm:...)
readonly PACKAGES=(
    cmake ninja-build g++ lld
    clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix
    wine wine64
    clang-format
    python3
    zip
    tpm2-tools time
    libssl-dev
    swtpm swtpm-tools libtss2-tcti-swtpm0
)
# Commands the scripts and the presets call by name, checked after an install.
readonly COMMANDS=(
    cmake ninja g++ ld.lld clang++ x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix
    x86_64-w64-mingw32-objdump wine wineboot wineserver clang-format python3 zip tpm2_eventlog
    swtpm tpm2_quote tpm2_checkquote
)

# True when dpkg has the package fully installed ("ii"); a removed package that left its
# configuration files behind, or a half-installed one, counts as missing.
is_installed() {
    [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null) == ii* ]]
}

missing_packages() {
    local package
    for package in "${PACKAGES[@]}"; do
        is_installed "$package" || echo "$package"
    done
}

main() {
    if ! command -v dpkg-query >/dev/null; then
        echo "install-deps: this script needs Debian's dpkg and apt (Debian 12)" >&2
        exit 1
    fi
    local missing
    mapfile -t missing < <(missing_packages)

    if [[ ${1:-} == --check ]]; then
        if ((${#missing[@]} == 0)); then
            echo "install-deps: all ${#PACKAGES[@]} packages are installed"
            return 0
        fi
        echo "install-deps: missing: ${missing[*]}"
        return 1
    fi

    if ((${#missing[@]} == 0)); then
        echo "install-deps: all ${#PACKAGES[@]} packages are installed"
    else
        if ((EUID != 0)); then
            echo "install-deps: missing ${missing[*]}; run this script as root to install them" >&2
            exit 1
        fi
        echo "install-deps: installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        # Waits for a dpkg lock that another apt run holds instead of failing at once.
        local apt=(apt-get -q -o DPkg::Lock::Timeout=600)
        "${apt[@]}" update
        "${apt[@]}" install -y -o Dpkg::Options::=--force-confdef \
            -o Dpkg::Options::=--force-confold "${missing[@]}" </dev/null
    fi

    local command status=0
    for command in "${COMMANDS[@]}"; do
        if ! command -v "$command" >/dev/null; then
            echo "install-deps: '$command' is still not on PATH" >&2
            status=1
        fi
    done
    return $status
}

main "$@"
