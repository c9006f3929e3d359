#!/usr/bin/env bash
# Builds binary wheels of yol_vovoruze that install without a compiler, one
# per CPython, into wheelhouse/ (or $YOL_WHEELHOUSE):
#
#   tools/build-wheels.sh [VERSION...]     VERSION: 3.6 ... 3.15
#
# Without VERSION: every CPython 3.6 to 3.15 that this machine has, 3.6 to
# 3.13 from pyenv and 3.14 and 3.15 from the Debian unstable chroot that
# .ci/run makes (/var/cache/yol-ci/sid, or $YOL_CI_CHROOT).
#
# The C++ is compiled by the zig toolchain of the `ziglang` package (from
# PyPI, into a virtual environment of the script's own), for glibc 2.17,
# with zig's own C++ standard library linked in statically. So a wheel needs
# nothing of the machine it is built on: it runs on every x86_64 (or
# aarch64) Linux with glibc 2.17 or newer, the manylinux2014 platform, which
# a Debian bullseye build (glibc 2.31) would not reach; and it carries no
# dependency on the system's libstdc++, whose C++17 parts manylinux2014 does
# not promise. auditwheel (with patchelf) checks each wheel and gives it its
# manylinux tag; a wheel it cannot tag is an error.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
wheelhouse=${YOL_WHEELHOUSE:-$repo/wheelhouse}
chroot_dir=${YOL_CI_CHROOT:-/var/cache/yol-ci/sid}
pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
glibc=2.17
platform=manylinux2014_$(uname -m)
tools=${YOL_WHEEL_TOOLS:-${XDG_CACHE_HOME:-$HOME/.cache}/yol-wheel-tools}

say() { printf 'build-wheels: %s\n' "$*" >&2; }

# The toolchain and the checker, in a virtual environment of their own.
tool_python=$(command -v python3 || command -v python)
if [ ! -x "$tools/bin/auditwheel" ] || ! "$tools/bin/python" -m ziglang version >/dev/null 2>&1; then
    say "installing ziglang, auditwheel and patchelf into $tools"
    "$tool_python" -m venv "$tools"
    "$tools/bin/python" -m pip install -q ziglang auditwheel patchelf
fi
export PATH="$tools/bin:$PATH"  # auditwheel runs patchelf from the PATH

# The interpreter of VERSION on this machine: "host PATH" or "chroot PATH".
find_python() {
    local version=$1 found
    case $version in
        3.14 | 3.15)
            [ -x "$chroot_dir/usr/bin/python$version" ] && printf 'chroot /usr/bin/python%s\n' "$version" ;;
        *)
            found=$(ls -d "$pyenv_root/versions/$version".* 2>/dev/null | sort -V | tail -n 1)
            [ -n "$found" ] && [ -x "$found/bin/python" ] && printf 'host %s\n' "$found/bin/python" ;;
    esac
}

# Python.h of 3.6 includes <crypt.h>, which the glibc headers that zig
# brings lack and the module does not use: an empty one is found after all
# the others.
stubs=$tools/include-after
mkdir -p "$stubs"
: >"$stubs/crypt.h"

# The zig binary that the ziglang package of PYTHON carries, run directly:
# pip's isolated build environment hides other packages from a Python it runs.
zig_of() { "$1" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))'; }

# The compiler commands for the target, as setuptools takes them: the
# extension is C++ only, and older setuptools compile it with CC.
compiler_env() {  # compiler_env ZIG STUBS
    local cxx="$1 c++ -target $(uname -m)-linux-gnu.$glibc -idirafter $2"
    printf '%s\n' "CC=$cxx" "CXX=$cxx" "LDSHARED=$cxx -shared" "LDCXXSHARED=$cxx -shared"
}

# A copy of what git tracks (or of the tree), so that no build/ is shared
# between interpreters and the working tree stays as it is.
copy_source() {  # copy_source DEST
    mkdir -p "$1"
    if git -C "$repo" rev-parse --git-dir >/dev/null 2>&1; then
        git -C "$repo" ls-files -z | (cd "$repo" && xargs -0 tar -cf -) | tar -xf - -C "$1"
    else
        (cd "$repo" && tar --exclude=./build --exclude=./wheelhouse -cf - .) | tar -xf - -C "$1"
    fi
}

build_on_host() {  # build_on_host PYTHON RAW_FOLDER
    local python=$1 raw=$2 source
    source=$(mktemp -d)
    copy_source "$source"
    (
        cd "$source"
        while IFS= read -r setting; do export "${setting?}"; done < <(compiler_env "$(zig_of "$tools/bin/python")" "$stubs")
        "$python" -m pip wheel --no-deps -q -w "$raw" .
    )
    rm -rf "$source"
}

# In the chroot, zig comes from a virtual environment there (the host's runs
# on the host's libraries only), whose pip also builds the wheel: Debian's
# interpreters come without one.
build_in_chroot() {  # build_in_chroot PYTHON RAW_FOLDER
    local python=$1 raw=$2 inside
    [ -d "$chroot_dir/proc/self" ] || mount -t proc proc "$chroot_dir/proc"
    inside=$(chroot "$chroot_dir" mktemp -d /tmp/yol-wheel.XXXXXX)
    copy_source "$chroot_dir$inside/src"
    cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
    [ -f /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$chroot_dir/etc/ssl/certs/"
    chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_CERT=/etc/ssl/certs/ca-certificates.crt \
        ZIG_TARGET="$(uname -m)-linux-gnu.$glibc" bash -euc '
        cd "$1"
        "$2" -m venv tools
        tools/bin/python -m pip install -q ziglang
        zig=$(tools/bin/python -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), \"zig\"))")
        # Debian keeps pyconfig.h under the multiarch folder, which only the
        # system compiler searches: that folder alone is found after zig'"'"'s own.
        triplet=$(gcc -dumpmachine 2>/dev/null || echo "$(uname -m)-linux-gnu")
        mkdir -p "after/$triplet"
        for found in /usr/include/"$triplet"/python3*; do ln -sfn "$found" "after/$triplet/"; done
        export CXX="$zig c++ -target $ZIG_TARGET -idirafter $PWD/after"
        export CC="$CXX" LDSHARED="$CXX -shared" LDCXXSHARED="$CXX -shared"
        cd src && ../tools/bin/python -m pip wheel --no-deps -q -w ../raw .
    ' build "$inside" "$python"
    cp "$chroot_dir$inside"/raw/*.whl "$raw/"
    rm -rf "${chroot_dir:?}$inside"
}

versions=("$@")
if [ ${#versions[@]} -eq 0 ]; then
    for version in 3.6 3.7 3.8 3.9 3.10 3.11 3.12 3.13 3.14 3.15; do
        find_python "$version" >/dev/null && versions+=("$version")
    done
fi
[ ${#versions[@]} -gt 0 ] || { say "no CPython 3.6 to 3.15 found"; exit 1; }

mkdir -p "$wheelhouse"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for version in "${versions[@]}"; do
    where=$(find_python "$version") || { say "no CPython $version on this machine"; exit 1; }
    read -r kind python <<<"$where"
    raw=$work/raw-$version
    mkdir -p "$raw"
    say "CPython $version ($python): building"
    if [ "$kind" = chroot ]; then
        build_in_chroot "$python" "$raw"
    else
        build_on_host "$python" "$raw"
    fi
    wheel=$(ls "$raw"/yol_vovoruze-*.whl)
    auditwheel repair --plat "$platform" -w "$wheelhouse" "$wheel" >&2
    tagged=$(ls -t "$wheelhouse"/yol_vovoruze-*-cp"${version/./}"-*manylinux*.whl | head -n 1)
    auditwheel show "$tagged" >&2
    say "CPython $version: $tagged"
    printf '%s\n' "$tagged"
done
