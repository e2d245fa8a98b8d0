#!/usr/bin/env bash
# The main job, shown whole: builds the library and the tools (release build), makes a folder of
# sample files and starts the stand-in server on loopback offering it as the stored files of
# the sample member, then runs the host program, which loads libkelvane.so and calls it by name:
# it opens a channel, lists the machines, the volumes and a folder, restores a large file (a
# cached transfer, with a progress line), restores a small file (one compressed reply) and
# rebuilds a newer version of a file from a local block file. Each restored file is checked
# against its original.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh

bin=$(pwd)/build/release
server=$bin/tools/kelvane-server
host=$bin/tools/kelvane-host
library=$bin/libkelvane.so
address=127.0.0.2

if [ "$(id -u)" -ne 0 ] &&
  [ "$(sysctl -n net.ipv4.ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt 443 ]; then
  echo "The stand-in server listens on port 443, which needs root or" >&2
  echo "'sysctl net.ipv4.ip_unprivileged_port_start=443'." >&2
  exit 1
fi

work=$(mktemp -d)
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=
}
trap 'stop_server; rm -rf "$work"' EXIT

# The server's folder: FOLDER/machine/volume/folders and files.
documents="$work/samples/Office PC/C:/Documents"
mkdir -p "$documents" "$work/local" "$work/restored"
echo "== Making the sample files"
head -c 200M /dev/urandom >"$documents/holiday-video.mp4"
printf 'Shopping list\n- milk\n- bread\n- coffee\n' >"$documents/notes.txt"
for i in $(seq 1000); do
  echo "Quarterly report, line $i: all backups completed on time."
done >"$documents/report.txt"

# A block file that turns report.txt into its next version: a 44-byte header (the version's
# size at byte 20, the record count at byte 36), then records of 28 bytes (type, offset, size,
# unused, CRC-32 of the data, has-data flag), each followed by its data. The version that the
# rebuild must give is written beside it.
perl - "$documents/report.txt" "$work/local/report.blk" "$work/report-v2.txt" <<'PERL'
use strict;
use warnings;
my ($base, $blocks, $expected) = @ARGV;
sub slurp { local $/; open(my $in, '<:raw', $_[0]) or die "$_[0]: $!"; return <$in>; }
sub crc32 {
  my $crc = 0xFFFFFFFF;
  for my $byte (unpack('C*', $_[0])) {
    $crc ^= $byte;
    $crc = ($crc & 1) ? (($crc >> 1) ^ 0xEDB88320) : ($crc >> 1) for 1 .. 8;
  }
  return $crc ^ 0xFFFFFFFF;
}
my $version = slurp($base);
my @records = ([0, "Quarterly report, REVISED: "], [5000, "(checked twice) "],
               [length($version), "Signed off by the auditor.\n"]);
my $size = length($version) + length($records[-1][1]);
my $file = pack('Q< L< Q< Q< L< L< Q<', 0, 0, 0, $size, 0, 0, scalar @records);
for my $record (@records) {
  my ($offset, $data) = @$record;
  $file .= pack('L< Q< L< L< L< L<', 1, $offset, length($data), 0, crc32($data), 1) . $data;
  substr($version, $offset, length($data)) = $data;
}
open(my $out, '>:raw', $blocks) or die; print $out $file; close $out;
open($out, '>:raw', $expected) or die; print $out $version; close $out;
PERL
ls -l "$documents" | tail -n +2

"$server" --address "$address" --files "$work/samples" --print-requests >"$work/server.txt" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q "listening" "$work/server.txt" && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "listening" "$work/server.txt"; then
  echo "kelvane-server did not start:" >&2
  cat "$work/server.txt" >&2
  exit 1
fi

# The server numbers what it offers in name order: machine "Office PC" is 501, volume "C:" 100,
# its root folder 1, "Documents" 2, and the files in it 1000, 1001, 1002 with versions 50000,
# 50001, 50002. A file version is named by machine, volume, folder, file and version.
echo
echo "== The host program: one channel, as the user 'demo'"
(cd "$work" && "$host" --library "$library" \
  open-user "$address" demo demo \
  machines \
  set-active-machine "Office PC" \
  volumes \
  root-folder 501 100 \
  folder 501 100 2 \
  restore-file 501 100 2 1000 50000 "$work/restored/holiday-video.mp4" "" \
  restore-file 501 100 2 1001 50001 "$work/restored/notes.txt" "" \
  restore-hybrid 501 100 2 1002 50002 "$work/local" report.blk "$work/restored/report-v2.txt" \
  close)

sleep 0.2
stop_server
echo
echo "== What the server answered"
printf '  %s file requests, %s cached-transfer chunks, %s cache files removed\n' \
  "$(grep -c ': file (' "$work/server.txt" || true)" \
  "$(grep -c ': cache packet (' "$work/server.txt" || true)" \
  "$(grep -c ': remove cache file (' "$work/server.txt" || true)"

echo
echo "== Each restored file against its original"
failed=0
check() {
  if cmp -s "$1" "$2"; then
    echo "  OK      $3"
  else
    echo "  FAILED  $3"
    failed=1
  fi
}
check "$documents/holiday-video.mp4" "$work/restored/holiday-video.mp4" \
  "holiday-video.mp4 (200 MiB, cached transfer)"
check "$documents/notes.txt" "$work/restored/notes.txt" "notes.txt (one compressed reply)"
check "$work/report-v2.txt" "$work/restored/report-v2.txt" \
  "report-v2.txt (rebuilt from report.txt and report.blk)"
exit $failed
