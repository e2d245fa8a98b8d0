#!/usr/bin/env bash
# The yardstick for the library's CPU cost per GiB downloaded: curl fetching a file from nginx,
# both on loopback, the file and its copy on tmpfs. Prints curl's CPU time (user + system) per
# GiB, the median of the rounds, to set beside bench_download's "client CPU per GiB".
#
#   bash bench/curl_cpu.sh [SIZE_MIB] [ROUNDS]     (default 1024 MiB, 5 rounds)
set -euo pipefail
size_mib=${1:-1024}
rounds=${2:-5}

for tool in nginx:nginx-light curl:curl; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1 && [ ! -x "/usr/sbin/${tool%%:*}" ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${tool##*:}"
  fi
done

work=$(mktemp -d /dev/shm/kelvane-curl-XXXXXX)
port=18443
trap '[ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/www"
head -c "${size_mib}M" /dev/urandom >"$work/www/large.bin"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work;
  proxy_temp_path $work;
  fastcgi_temp_path $work;
  uwsgi_temp_path $work;
  scgi_temp_path $work;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work"
sleep 0.5

TIMEFORMAT='%U %S'
cpu=()
for _ in $(seq "$rounds"); do
  times=$({ time curl -s -o "$work/copy.bin" "http://127.0.0.1:$port/large.bin"; } 2>&1)
  cpu+=("$(echo "$times" | awk -v mib="$size_mib" '{ printf "%.4f", ($1 + $2) * 1024 / mib }')")
  rm -f "$work/copy.bin"
done
median=$(printf '%s\n' "${cpu[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
printf '%-38s curl %6.3f s per GiB (rounds: %s)\n' "curl from nginx, tmpfs to tmpfs" "$median" "${cpu[*]}"
