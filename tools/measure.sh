#!/usr/bin/env bash
# Measures the real program's CPU time and memory while it idles at 60 passes
# a second with no key held, in a private X server.
#   tools/measure.sh BUILD_DIR [SECONDS]
# Prints: cpu_percent_of_one_core=... rss_mib=... hwm_mib=...
# rss_mib is the largest resident size seen (sampled each second), hwm_mib
# the kernel's peak at the end.
set -euo pipefail
[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
exe=$(realpath "$1/twindial")
seconds=${2:-10}
here=$(dirname "$(realpath "$0")")
# shellcheck source=xsession.sh
source "$here/xsession.sh"
trap x_stop EXIT

# utime + stime of a process, in clock ticks. The command name in field 2
# may hold spaces, so the fields are counted after its closing parenthesis.
cpu_ticks() {
  local stat rest
  stat=$(< "/proc/$1/stat")
  rest=${stat##*) }
  read -ra f <<< "$rest"
  echo $((f[11] + f[12]))
}
status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
now() { date +%s.%N; }

x_start
x_run "$exe"
sleep 2
t0=$(now)
c0=$(cpu_ticks "$x_prog")
rss=0
for ((i = 0; i < seconds; i++)); do
  sleep 1
  r=$(status_kib "$x_prog" VmRSS)
  ((r > rss)) && rss=$r
done
c1=$(cpu_ticks "$x_prog")
t1=$(now)
hwm=$(status_kib "$x_prog" VmHWM)
awk -v c="$((c1 - c0))" -v hz="$(getconf CLK_TCK)" -v t0="$t0" -v t1="$t1" -v rss="$rss" -v hwm="$hwm" 'BEGIN {
  printf "cpu_percent_of_one_core=%.2f rss_mib=%.1f hwm_mib=%.1f\n", 100 * c / hz / (t1 - t0), rss / 1024, hwm / 1024
}'
