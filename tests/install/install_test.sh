#!/bin/bash
# Installs the build into a temporary DESTDIR and runs what users run from there; builds the
# Debian package and checks its files and dependencies; renders every manual page.
# Usage: install_test.sh BUILD_DIR VERSION MAKE_EXAMPLE_STUDY
set -u
build=$1
version=$2
make_example_study=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
commands="torvacoreel torvacoreel-prepare torvacoreel-report torvacoreel-merge torvacoreel-slurm
  torvacoreel-permute"

# --- make install into a DESTDIR
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /opt/torva > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
bin=$root/opt/torva/bin
for c in $commands; do
  [ -x "$bin/$c" ] || fail "$bin/$c is not installed"
  [ -f "$root/opt/torva/share/man/man1/$c.1" ] || fail "no manual page for $c"
done
[ -f "$root/opt/torva/share/doc/torvacoreel/README.md" ] || fail "README not installed"
if [ -n "$(ls "$bin" | grep -vxF -f <(printf '%s\n' $commands))" ]; then
  fail "unexpected files in bin/: $(ls "$bin" | tr '\n' ' ')"
fi

# --- --version and --help of every installed command
for c in $commands; do
  out=$("$bin/$c" --version 2>"$work/err"); status=$?
  [ "$status" = 0 ] || fail "$c --version: status $status"
  [ "$out" = "$c $version" ] || fail "$c --version printed '$out'"
  [ -s "$work/err" ] && fail "$c --version wrote to standard error: $(cat "$work/err")"
  for h in --help -h; do
    "$bin/$c" $h > "$work/help" 2>"$work/err"; status=$?
    [ "$status" = 0 ] || fail "$c $h: status $status"
    grep -q "$c" "$work/help" || fail "$c $h: no usage on standard output"
    [ -s "$work/err" ] && fail "$c $h wrote to standard error: $(cat "$work/err")"
  done
done

# --- every page renders without a warning, and names its command and version
for c in $commands; do
  page=$root/opt/torva/share/man/man1/$c.1
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt")
  [ -z "$warnings" ] || fail "man -l $c.1: $warnings"
  grep -q "torvacoreel $version" "$work/page.txt" || fail "$c.1 does not carry version $version"
  for section in SYNOPSIS OPTIONS "EXIT STATUS"; do
    grep -q "^$section" "$work/page.txt" || fail "$c.1 has no $section section"
  done
done

# --- the example study through the installed commands
study=$work/study
mkdir -p "$study" && cd "$study" || exit 1
"$make_example_study" --out study --subjects 40 --size 10 12 10 --regions 2 --seed 3 >/dev/null ||
  fail "make_example_study"
"$bin/torvacoreel" study/torva.prj.filelist 1 0 > run.txt 2>err.txt || fail "installed torvacoreel: $(cat err.txt)"
"$bin/torvacoreel-permute" --permutations=200 study/torva.prj.filelist > permute.txt 2>err.txt ||
  fail "installed torvacoreel-permute: $(cat err.txt)"
"$bin/torvacoreel-report" --study=study/torva.prj.filelist --out report . > report.txt 2>err.txt ||
  fail "installed torvacoreel-report: $(cat err.txt)"
for f in roi.el.torva prediction_summary.tsv permutation.tsv report/report.html report/regions.csv; do
  [ -s "$f" ] || fail "the installed commands did not write $f"
done

# --- the Debian package: its files and its dependencies
cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/package/torvacoreel_${version}_amd64.deb
if [ ! -f "$deb" ]; then
  fail "no package $deb: $(ls "$work/package")"
else
  dpkg-deb -x "$deb" "$work/unpacked" || fail "dpkg-deb -x"
  for c in $commands; do
    [ -x "$work/unpacked/usr/bin/$c" ] || fail "package lacks usr/bin/$c"
    [ -f "$work/unpacked/usr/share/man/man1/$c.1" ] || fail "package lacks the page of $c"
  done
  [ -f "$work/unpacked/usr/share/doc/torvacoreel/README.md" ] || fail "package lacks the README"
  depends=$(dpkg-deb -f "$deb" Depends)
  names=$(echo "$depends" | tr ',' '\n' | awk '{print $1}')
  # The libraries the commands link directly (zlib comes through libznz3).
  for library in libc6 libstdc++6 libgcc-s1 libniftiio2 libznz3 libpng16-16; do
    echo "$names" | grep -qxF "$library" || fail "Depends lacks $library: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "install, commands, pages and package checked"
