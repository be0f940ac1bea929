#!/usr/bin/env bash
# Soak run: the real zorvak-client plays a loopback playlist of pictures, a
# local web page and a video, 1 s each, without end, for a given number of
# minutes; every few minutes the served playlist changes, so the client's
# 60-second refresh imports a new one. Every 15 s one line tells the memory of
# the client and of the web engine's helper processes, its open descriptors
# and threads; at the end a summary says whether the long-run goals are met.
#
#   scripts/soak.sh [MINUTES]          # default 15
#
# Settings (environment):
#   BUILD_DIR=build            where zorvak-client, zorvak-ctl, zorvak-testserver are
#   SOAK_ITEMS=picture,page,video   which kinds of item the playlist holds
#                              (picture = two pictures, a JPEG and a PNG)
#   SOAK_CHANGE_MINUTES=3      minutes between two playlist changes (0: never)
#   SOAK_INTERVAL=15           seconds between two samples
#   SOAK_DIR=...               working folder (default: a new /tmp/zorvak-soak.XXXXXX);
#                              samples.tsv, summary.txt and logs/ stay there
#   SOAK_LIMIT_MB=350          goal for client plus helpers
#   SOAK_GROWTH_MB_PER_HOUR=5  goal for the growth after minute 5
# The client inherits the rest of the environment (e.g. ZORVAK_MPV_LOG,
# MALLOC_ARENA_MAX, QTWEBENGINE_CHROMIUM_FLAGS for experiments).
#
# Columns: minute, client RSS, helpers' RSS (every process below the client:
# the QtWebEngineProcess helpers) and their count, client plus helpers (RSS and
# PSS, where PSS shares the pages the helpers have in common instead of
# counting them once per process), the Xvfb server's RSS, the client's open
# descriptors and threads, and client plus helpers as unique pages: every page
# of physical memory they hold counted once, however many of them map it (read
# by the group-memory program from the build folder, which needs root; "-"
# without it). Summed RSS counts the web engine's libraries once in the client
# and again in every helper (two zygotes and a page's renderer): unique pages
# are the memory the group takes from the machine, and the goals are judged on
# them when they are measured, else on summed RSS. Memory in MB (MiB).
#
# Everything stays on this machine: a private Xvfb (1280x720x24), a server on
# 127.0.0.1, a fresh application folder, HOME and XDG folders inside the
# working folder. All that the script started is stopped at the end and on
# Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
MINUTES=${1:-${SOAK_MINUTES:-15}}
ITEMS=${SOAK_ITEMS:-picture,page,video}
CHANGE_MINUTES=${SOAK_CHANGE_MINUTES:-3}
INTERVAL=${SOAK_INTERVAL:-15}
LIMIT_MB=${SOAK_LIMIT_MB:-350}
GROWTH_MB=${SOAK_GROWTH_MB_PER_HOUR:-5}
BUILD_DIR=${BUILD_DIR:-build}
DURATION=$(awk -v m="$MINUTES" 'BEGIN { d = int(m * 60); print (d > 0 ? d : 0) }')
((DURATION > 0)) || { echo "soak: MINUTES must be a positive number" >&2; exit 1; }
case $BUILD_DIR in /*) BIN=$BUILD_DIR/bin ;; *) BIN=$ROOT/$BUILD_DIR/bin ;; esac
# shellcheck source=scripts/rig.sh
. scripts/rig.sh
rig_need_binaries "$BIN" zorvak-client zorvak-ctl zorvak-testserver tmpdb.mdb
for tool in Xvfb ffmpeg; do
  command -v "$tool" >/dev/null || { echo "soak: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

WORK=${SOAK_DIR:-$(mktemp -d /tmp/zorvak-soak.XXXXXX)}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
MEDIA=$WORK/server
APP=$WORK/app
LOGS=$WORK/logs
SAMPLES=$WORK/samples.tsv
rm -rf "$MEDIA" "$APP" "$WORK/home"
mkdir -p "$MEDIA" "$APP/data" "$LOGS" "$WORK/home/.config" "$WORK/home/.cache" "$WORK/runtime"
chmod 700 "$WORK/runtime"

CLIENT=""
stop_client() {
  [ -n "$CLIENT" ] || return 0
  if kill -0 "$CLIENT" 2>/dev/null; then
    # Quit as the tray menu does: the item on screen ends, the client exits.
    kill -TERM "$CLIENT" 2>/dev/null || true
    for _ in $(seq 150); do kill -0 "$CLIENT" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$CLIENT" 2>/dev/null; then
      echo "soak: the client did not quit within 15 s; ending it" >&2
      local helpers
      helpers=$(descendants "$CLIENT")
      kill -KILL "$CLIENT" 2>/dev/null || true
      # Its helpers end with it; any left over were started by it, so by us.
      for h in $helpers; do kill -KILL "$h" 2>/dev/null || true; done
    fi
  fi
  wait "$CLIENT" 2>/dev/null || true
  CLIENT=""
}
cleanup() {
  stop_client
  rig_stop_all
}
trap cleanup EXIT
trap 'echo "soak: interrupted" >&2; exit 130' INT TERM HUP

# ---- /proc readings ------------------------------------------------------------
descendants() {  # every process below $1, depth first
  local p c
  for p in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    echo "$p"
    for c in $(descendants "$p"); do echo "$c"; done
  done
}
status_kb() {  # $1 pid, $2 field of /proc/PID/status (VmRSS, Threads); 0 when gone
  local text
  text=$(cat /proc/"$1"/status 2>/dev/null) || { echo 0; return; }
  awk -v key="$2:" '$1 == key { print $2; found = 1 } END { if (!found) print 0 }' <<< "$text"
}
pss_kb() {
  local text
  text=$(cat /proc/"$1"/smaps_rollup 2>/dev/null) || { echo 0; return; }
  awk '$1 == "Pss:" { print $2; found = 1 } END { if (!found) print 0 }' <<< "$text"
}

# ---- media -----------------------------------------------------------------------
echo "soak: making media in $MEDIA"
rig_picture "$MEDIA/picture1.jpg" testsrc2 'picture 1'
rig_picture "$MEDIA/picture2.png" smptehdbars 'picture 2'
rig_video "$MEDIA/video.mp4" 10 'video'
rig_logo "$APP/logo.png"
rig_page "$MEDIA/page.html" 'web page'

# ---- server and playlist ---------------------------------------------------------
rig_server "$MEDIA" "$LOGS/server.log"
SERVER=$RIG_SERVER
URL=http://$SERVER

rows=()  # "f_lx file" for every item, in playlist order
IFS=, read -ra kinds <<< "$ITEMS"
for kind in "${kinds[@]}"; do
  case $kind in
    picture) rows+=("10 picture1.jpg" "10 picture2.png") ;;
    page) rows+=("30 page.html") ;;
    video) rows+=("20 video.mp4") ;;
    *) echo "soak: unknown item kind '$kind' (picture, page, video)" >&2; exit 1 ;;
  esac
done
# Generation N of the playlist: even generations in the order above, odd ones
# reversed; the generation is in every remark, so each change is a new document.
write_playlist() {
  local gen=$1 n=${#rows[@]} i j
  for ((i = 0; i < n; i++)); do
    if ((gen % 2 == 0)); then j=$i; else j=$((n - 1 - i)); fi
    read -r lx file <<< "${rows[j]}"
    rig_item $((j + 1)) "$file" "$lx" "$URL/$file" "$file" $((i + 1)) 1 0 \
      "$RIG_VALID_FROM" "$RIG_VALID_TO" soak "soak generation $gen"
  done | rig_playlist "$MEDIA/playlist.xml"
}
write_playlist 0

# ---- application folder ----------------------------------------------------------
cp "$BIN/zorvak-client" "$BIN/zorvak-ctl" "$BIN/tmpdb.mdb" "$APP/"
printf '[PLAYLIST]\r\nKEYWORD=soak\r\nnoautorun=0\r\n' > "$APP/dIrovede.ini"
"$APP/zorvak-ctl" fetch --appdir "$APP" --server "$SERVER" --assume-online > "$LOGS/fetch.log"
for row in "${rows[@]}"; do
  read -r _ file <<< "$row"
  "$APP/zorvak-ctl" download --appdir "$APP" --assume-online "$file" "$URL/$file" >> "$LOGS/fetch.log"
done
if ! rig_has_default_route; then
  echo "soak: warning: no default route, so the client counts itself offline and" \
       "imports no changed playlist" >&2
fi

# ---- display ---------------------------------------------------------------------
rig_xvfb "$LOGS/xvfb.log"
XVFB=$RIG_XVFB

# ---- run ---------------------------------------------------------------------------
echo "soak: $MINUTES min on $DISPLAY, items $ITEMS (1 s each), playlist change every" \
     "$CHANGE_MINUTES min, a line every $INTERVAL s; folder $WORK"
echo "soak: load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
(
  cd "$APP"
  HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_CACHE_HOME=$WORK/home/.cache \
  XDG_RUNTIME_DIR=$WORK/runtime ZORVAK_PLAYLIST_SERVER=$SERVER exec ./zorvak-client
) > "$LOGS/client.log" 2>&1 &
CLIENT=$!
START=$(date +%s)

printf 'minute\tclient\thelpers\tn\ttotal\tpss\txvfb\tfds\tthreads\tunique\n' > "$SAMPLES"
printf '%7s %8s %8s %3s %8s %8s %7s %5s %7s %9s\n' \
  minute client_MB helpers_MB n total_MB pss_MB xvfb_MB fds threads unique_MB
generation=0
k=0
status=0
while :; do
  k=$((k + 1))
  due=$((START + k * INTERVAL))
  ((due > START + DURATION)) && break
  while (( $(date +%s) < due )); do
    if [ "$CHANGE_MINUTES" -gt 0 ]; then
      next_change=$((START + (generation + 1) * CHANGE_MINUTES * 60))
      if (( $(date +%s) >= next_change )); then
        generation=$((generation + 1))
        write_playlist "$generation"
      fi
    fi
    sleep 1
  done
  if ! kill -0 "$CLIENT" 2>/dev/null; then
    echo "soak: the client ended by itself (see $LOGS/client.log)" >&2
    status=1
    break
  fi
  elapsed=$(( $(date +%s) - START ))
  client_kb=$(status_kb "$CLIENT" VmRSS)
  pss=$(pss_kb "$CLIENT")
  helpers_kb=0
  n=0
  group=$(descendants "$CLIENT")
  unique_kb=-1
  if [ -x "$BIN/group-memory" ]; then
    unique_kb=$("$BIN/group-memory" "$CLIENT" $group 2>/dev/null | cut -d' ' -f1) || unique_kb=-1
    [ -n "$unique_kb" ] || unique_kb=-1
  fi
  for h in $group; do
    helpers_kb=$((helpers_kb + $(status_kb "$h" VmRSS)))
    pss=$((pss + $(pss_kb "$h")))
    n=$((n + 1))
  done
  fds=$(ls /proc/"$CLIENT"/fd 2>/dev/null | wc -l)
  threads=$(status_kb "$CLIENT" Threads)
  xvfb_kb=$(status_kb "$XVFB" VmRSS)
  line=$(awk -v t="$elapsed" -v c="$client_kb" -v h="$helpers_kb" -v n="$n" -v p="$pss" \
             -v x="$xvfb_kb" -v f="$fds" -v th="$threads" -v u="$unique_kb" 'BEGIN {
    printf "%.2f\t%.1f\t%.1f\t%d\t%.1f\t%.1f\t%.1f\t%d\t%d\t%s", t / 60, c / 1024, h / 1024, n,
           (c + h) / 1024, p / 1024, x / 1024, f, th, (u < 0 ? "-" : sprintf("%.1f", u / 1024)) }')
  echo "$line" >> "$SAMPLES"
  awk -F'\t' '{ printf "%7s %8s %8s %3s %8s %8s %7s %5s %7s %9s\n", $1, $2, $3, $4, $5, $6, $7, $8, $9, $10 }' \
    <<< "$line"
done
stop_client
echo "soak: load average at end: $(cut -d' ' -f1-3 /proc/loadavg); $generation playlist changes"

# ---- summary ---------------------------------------------------------------------
# Growth per hour: least-squares slope, from minute 5 on, of the medians of
# 5-minute stretches of samples (a stretch with under half the samples of a
# full one, the run's last, is left out). Medians, since a page's renderer
# lives about one second in five and adds some 50 MB to the few samples that
# fall on it: a slope of single samples follows when they fell.
# Descriptors and threads are flat when the highest value in the second half
# of the samples after minute 5 does not exceed the highest in the first half.
awk -F'\t' -v limit="$LIMIT_MB" -v growth="$GROWTH_MB" '
  NR == 1 { next }
  { m[++n] = $1; c[n] = $2; t[n] = $5; p[n] = $6; f[n] = $8; th[n] = $9
    if ($10 == "-" || $10 == "") nounique = 1; else u[n] = $10
    if ($5 > maxt) { maxt = $5; maxat = $1 }
    if ($10 + 0 > maxu) { maxu = $10 + 0; maxuat = $1 } }
  function slope(v, from,   i, j, b, last, most, cnt, val, x, k, sx, sy, sxx, sxy, d, tmp, med) {
    last = -1
    for (i = from; i <= n; i++) {
      b = int((m[i] - 5) / 5); if (b < 0) b = 0
      val[b, ++cnt[b]] = v[i]; if (b > last) last = b; if (cnt[b] > most) most = cnt[b]
    }
    for (b = 0; b <= last; b++) {
      if (cnt[b] * 2 < most) continue
      for (i = 2; i <= cnt[b]; i++)
        for (j = i; j > 1 && val[b, j - 1] > val[b, j]; j--) { tmp = val[b, j]; val[b, j] = val[b, j - 1]; val[b, j - 1] = tmp }
      med = cnt[b] % 2 ? val[b, (cnt[b] + 1) / 2] : (val[b, cnt[b] / 2] + val[b, cnt[b] / 2 + 1]) / 2
      x = 5 + 5 * b + 2.5
      k++; sx += x; sy += med; sxx += x * x; sxy += x * med
    }
    d = k * sxx - sx * sx
    return d > 0 ? (k * sxy - sx * sy) / d * 60 : 0
  }
  function halfmax(v, from, to,   i, x) { x = -1; for (i = from; i <= to; i++) if (v[i] > x) x = v[i]; return x }
  function yesno(b) { return b ? "met" : "NOT met" }
  END {
    if (n == 0) { print "soak: no samples"; exit 1 }
    five = 0
    for (i = 1; i <= n; i++) if (m[i] >= 5 && !five) five = i
    printf "\nsummary (MB; client + helpers as summed RSS, as PSS, and as unique pages)\n"
    printf "  %-28s client %6.1f  total %6.1f  pss %6.1f  fds %4d  threads %3d\n", "start (minute " m[1] ")", c[1], t[1], p[1], f[1], th[1]
    if (five) printf "  %-28s client %6.1f  total %6.1f  pss %6.1f  fds %4d  threads %3d\n", "after 5 min (minute " m[five] ")", c[five], t[five], p[five], f[five], th[five]
    printf "  %-28s client %6.1f  total %6.1f  pss %6.1f  fds %4d  threads %3d\n", "end (minute " m[n] ")", c[n], t[n], p[n], f[n], th[n]
    printf "  max total %.1f MB at minute %s (summed RSS: a page shared by n processes counts n times)\n", maxt, maxat
    if (!nounique) printf "  max unique %.1f MB at minute %s (each page counted once)\n", maxu, maxuat
    else print "  unique pages not measured (group-memory missing or without CAP_SYS_ADMIN): the goals use summed RSS"
    if (!five || n - five < 4) { print "  too short for the growth goals (needs samples well past minute 5)"; exit 0 }
    gc = slope(c, five); gt = slope(t, five); gp = slope(p, five)
    mid = int((five + n) / 2)
    printf "  growth after minute 5 (5-minute medians): client %+.1f MB/h, total %+.1f MB/h, pss %+.1f MB/h", gc, gt, gp
    if (!nounique) { gu = slope(u, five); printf ", unique %+.1f MB/h", gu }
    printf "\n"
    printf "  descriptors after minute 5: first half max %d, second half max %d\n", halfmax(f, five, mid), halfmax(f, mid + 1, n)
    printf "  threads after minute 5: first half max %d, second half max %d\n", halfmax(th, five, mid), halfmax(th, mid + 1, n)
    printf "goals\n"
    if (nounique) printf "  growth after minute 5 under %s MB/h (total): %s\n", growth, yesno(gt < growth)
    else printf "  growth after minute 5 under %s MB/h (unique): %s\n", growth, yesno(gu < growth)
    printf "  descriptors flat: %s\n", yesno(halfmax(f, mid + 1, n) <= halfmax(f, five, mid))
    printf "  threads flat: %s\n", yesno(halfmax(th, mid + 1, n) <= halfmax(th, five, mid))
    if (nounique) printf "  client + helpers under %s MB (max total): %s\n", limit, yesno(maxt < limit)
    else printf "  client + helpers under %s MB (max unique): %s\n", limit, yesno(maxu < limit)
  }' "$SAMPLES" | tee "$WORK/summary.txt"
echo "soak: samples in $SAMPLES, logs in $LOGS"
exit $status
