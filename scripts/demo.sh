#!/usr/bin/env bash
# The client's main job on this machine: it installs what is needed, builds
# the programs it runs, makes sample media and a sample playlist, serves them
# from a loopback server, runs zorvak-client against it in a fresh application
# folder and saves a screenshot every few seconds. It stops by itself after DEMO_SECONDS
# (one pass through the list), quitting the client as its tray menu does.
#
#   scripts/demo.sh                 # on $DISPLAY, or on a private Xvfb without one
#
# Settings (environment):
#   DEMO_SECONDS=60        how long the client runs
#   DEMO_SHOT_SECONDS=3    time between two screenshots
#   DEMO_DIR=...           working folder (default: a new /tmp/zorvak-demo.XXXXXX)
#   DEMO_USE_XVFB=1        use a private Xvfb even when $DISPLAY is set
#   DEMO_SKIP_SETUP=1      do not run scripts/setup.sh and scripts/build.sh
#
# Nothing leaves the machine: the server listens on 127.0.0.1, the client's
# autostart entry goes into the working folder (XDG_CONFIG_HOME), and its
# screen concealment ends with it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DEMO_SECONDS=${DEMO_SECONDS:-60}
DEMO_SHOT_SECONDS=${DEMO_SHOT_SECONDS:-3}
BUILD_DIR=${BUILD_DIR:-build}

# Only what the demo runs: the client, zorvak-ctl, the loopback server and the
# empty store beside them (no tests, no benchmarks).
if [ -z "${DEMO_SKIP_SETUP:-}" ]; then
  scripts/setup.sh
  BUILD_TARGETS="zorvak-client zorvak-ctl zorvak-testserver zorvak_store_file" scripts/build.sh
fi
BIN=$ROOT/$BUILD_DIR/bin
# shellcheck source=scripts/rig.sh
. scripts/rig.sh
rig_need_binaries "$BIN" zorvak-client zorvak-ctl zorvak-testserver tmpdb.mdb

WORK=${DEMO_DIR:-$(mktemp -d /tmp/zorvak-demo.XXXXXX)}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
MEDIA=$WORK/server
APP=$WORK/app
SHOTS=$WORK/screenshots
LOGS=$WORK/logs
rm -rf "$MEDIA" "$APP" "$SHOTS"
mkdir -p "$MEDIA" "$APP/data" "$SHOTS" "$LOGS" "$WORK/config" "$WORK/runtime"
chmod 700 "$WORK/runtime"
trap rig_stop_all EXIT

# ---- sample media ------------------------------------------------------------
echo "demo: making sample media in $MEDIA"
rig_picture "$MEDIA/picture1.jpg" testsrc2 '本地图片 JPEG'
rig_picture "$MEDIA/picture2.png" smptehdbars '本地图片 PNG（无标志）'
rig_picture "$MEDIA/online.jpg" mandelbrot '在线图片'
rig_video "$MEDIA/video.mp4" 8 '视频 MP4'
rig_logo "$WORK/logo.png" 'ZORVAK'
rig_page "$MEDIA/page.html" '网页广告' '本地缓存的网页 · local web page'

# ---- server and playlist -----------------------------------------------------
rig_server "$MEDIA" "$LOGS/server.log"
SERVER=$RIG_SERVER
URL=http://$SERVER
echo "demo: serving $MEDIA at $URL"

item() {  # id playname f_lx file order play_time online start [listurl]
  rig_item "$1" "$2" "$3" "${9:-$URL/$4}" "$4" "$5" "$6" "$7" "$8" "$RIG_VALID_TO" demo.zorvak.cn demo
}
TOMORROW=$(date -d tomorrow '+%Y-%m-%d 00:00:00')
{
  item 1 "本地图片" 10 picture1.jpg 1 10 0 "$RIG_VALID_FROM"
  item 2 "视频" 20 video.mp4 2 10 0 "$RIG_VALID_FROM"
  item 3 "在线图片" 10 online.jpg 3 8 1 "$RIG_VALID_FROM"
  item 4 "网页" 30 page.html 4 10 0 "$RIG_VALID_FROM"
  item 5 "本地图片（无标志）" 10 picture2.png 5 8 0 "$RIG_VALID_FROM"
  item 6 "明天才开始" 10 later.jpg 6 10 0 "$TOMORROW" "$URL/picture1.jpg"
} | rig_playlist "$MEDIA/playlist.xml"

# ---- application folder ------------------------------------------------------
cp "$BIN/zorvak-client" "$BIN/zorvak-ctl" "$BIN/tmpdb.mdb" "$APP/"
cp "$WORK/logo.png" "$APP/logo.png"
printf '[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\nnoautorun=0\r\n' > "$APP/dIrovede.ini"
# The client fetches at its first 60-second tick; fill the store now so that
# playback starts at once.
"$APP/zorvak-ctl" fetch --appdir "$APP" --server "$SERVER" --assume-online
if ! rig_has_default_route; then
  # The client downloads missing media only while the machine reports a
  # connection; without one, put the local files into the cache beforehand.
  echo "demo: no network connection reported; filling the media cache beforehand"
  for f in picture1.jpg video.mp4 page.html picture2.png; do
    "$APP/zorvak-ctl" download --appdir "$APP" --assume-online "$f" "$URL/$f"
  done
fi

# ---- display -----------------------------------------------------------------
if [ -n "${DISPLAY:-}" ] && [ -z "${DEMO_USE_XVFB:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "demo: running on the current display $DISPLAY"
else
  rig_xvfb "$LOGS/xvfb.log"
  echo "demo: running on a virtual display $DISPLAY (Xvfb)"
fi
SIZE=$(xdpyinfo | awk '/dimensions:/ && !done { print $2; done = 1 }')

# ---- run -----------------------------------------------------------------------
echo "demo: starting the client for ${DEMO_SECONDS}s; screenshots every ${DEMO_SHOT_SECONDS}s"
(
  cd "$APP"
  XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime \
  ZORVAK_PLAYLIST_SERVER=$SERVER exec ./zorvak-client
) > "$LOGS/client.log" 2>&1 &
CLIENT=$!
RIG_PIDS+=($CLIENT)

start=$(date +%s)
shot=0
logo_removed=""
while kill -0 "$CLIENT" 2>/dev/null; do
  now=$(date +%s)
  elapsed=$((now - start))
  ((elapsed >= DEMO_SECONDS)) && break
  # Halfway through, the logo goes: the later pictures show without it.
  if [ -z "$logo_removed" ] && ((elapsed >= DEMO_SECONDS / 2)); then
    rm -f "$APP/logo.png"
    logo_removed=1
  fi
  shot=$((shot + 1))
  name=$(printf '%s/shot-%03d-%03ds.png' "$SHOTS" "$shot" "$elapsed")
  ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size "$SIZE" -i "$DISPLAY" \
    -frames:v 1 "$name" || true
  sleep "$DEMO_SHOT_SECONDS"
done

status=0
if kill -0 "$CLIENT" 2>/dev/null; then
  # Quit as the tray menu does: the client ends the item on screen, shows the
  # desktop again and exits.
  kill -TERM "$CLIENT"
  for _ in $(seq 100); do kill -0 "$CLIENT" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$CLIENT" 2>/dev/null; then
    echo "demo: the client did not quit; ending it" >&2
    kill -KILL "$CLIENT"
    status=1
  fi
else
  echo "demo: the client ended by itself before the time was up" >&2
  status=1
fi
wait "$CLIENT" 2>/dev/null || status=1

echo "demo: $(ls "$SHOTS" | wc -l) screenshots in $SHOTS"
echo "demo: rows valid now (the item that is not valid yet is left out):"
"$APP/zorvak-ctl" valid --appdir "$APP" | cut -f1,3,6,7,12,15 | sed 's/^/  /'
echo "demo: media cache: $(ls "$APP/data" | tr '\n' ' ')"
echo "demo: logs in $LOGS"
exit $status
