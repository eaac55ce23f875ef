#!/usr/bin/env bash
# Builds libopenmpt for 64-bit Windows with MinGW-w64, from Debian's own
# source package of the version the native build uses.
#
#   build-libopenmpt-mingw.sh OUT HOST CC CXX STRIP JOBS
#
# Installs a static library without debug information, and its headers,
# into OUT/prefix. The source comes through apt with a sources list and
# state of its own under OUT/apt: the machine's apt configuration is only
# read, to learn which archive it uses. No optional codecs, tools or docs.
set -euo pipefail
out=$1 host=$2 cc=$3 cxx=$4 strip=$5 jobs=$6

apt_dir=$out/apt
src_dir=$out/src
prefix=$out/prefix
rm -rf "$apt_dir" "$src_dir" "$prefix"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" \
         "$apt_dir/cache/archives/partial" "$src_dir"

# The machine's archives, as source archives: deb822 files get the type
# deb-src; one-line entries are rewritten from "deb" to "deb-src".
shopt -s nullglob
for f in /etc/apt/sources.list.d/*.sources; do
  sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$f" \
    >"$apt_dir/sources.list.d/$(basename "$f")"
done
shopt -u nullglob

apt_opts=(
  -o Dir::Etc::SourceList=/dev/null
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o Debug::NoLocking=1
  -o APT::Sandbox::User=root
  -qq
)
apt-get "${apt_opts[@]}" update

# The version the native build links, where it is installed.
version=$(dpkg-query -W -f='${Version}' libopenmpt-dev 2>/dev/null || true)
package=libopenmpt${version:+=$version}
echo "Fetching the source package $package"
(cd "$src_dir" && apt-get "${apt_opts[@]}" source --download-only "$package")

# dpkg-source applies Debian's patches. apt has checked the files against
# the archive's signed index, so the .dsc's own signature is not needed.
dsc=$(ls "$src_dir"/*.dsc)
(cd "$src_dir" && dpkg-source --no-check -x "$dsc" tree >/dev/null)

cd "$src_dir/tree"
./configure --host="$host" CC="$cc" CXX="$cxx" \
  CFLAGS=-O2 CXXFLAGS=-O2 PKG_CONFIG_LIBDIR=/nonexistent \
  --prefix="$prefix" --enable-static --disable-shared \
  --disable-openmpt123 --disable-examples --disable-tests \
  --disable-doxygen-doc \
  --without-zlib --without-mpg123 --without-ogg --without-vorbis \
  --without-vorbisfile --without-pulseaudio --without-portaudio \
  --without-portaudiocpp --without-sndfile --without-flac \
  >"$out/configure.log" 2>&1 || { tail -40 "$out/configure.log"; exit 1; }
make -j"$jobs" >"$out/make.log" 2>&1 || { tail -40 "$out/make.log"; exit 1; }
make install >>"$out/make.log" 2>&1
"$strip" --strip-debug "$prefix/lib/libopenmpt.a"

# The sources and the apt state are not needed again.
rm -rf "$src_dir" "$apt_dir"
echo "libopenmpt ${version:-(newest)} for $host in $prefix"
