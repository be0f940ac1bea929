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
for f in zorvak-client zorvak-ctl zorvak-testserver tmpdb.mdb; do
  [ -e "$BIN/$f" ] || { echo "demo: $BIN/$f is missing; build first" >&2; exit 1; }
done

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

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

# ---- sample media ------------------------------------------------------------
FONT=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
label() {  # drawtext filter with a centred caption
  echo "drawtext=fontfile=$FONT:text='$1':fontsize=$2:fontcolor=white:borderw=3:x=(w-text_w)/2:y=(h-text_h)/2"
}
echo "demo: making sample media in $MEDIA"
ff -f lavfi -i "testsrc2=size=1280x720:rate=1" -frames:v 1 \
   -vf "$(label '本地图片 JPEG' 72)" "$MEDIA/picture1.jpg"
ff -f lavfi -i "smptehdbars=size=1280x720:rate=1" -frames:v 1 \
   -vf "$(label '本地图片 PNG（无标志）' 72)" "$MEDIA/picture2.png"
ff -f lavfi -i "mandelbrot=size=1280x720:rate=1" -frames:v 1 \
   -vf "$(label '在线图片' 72)" "$MEDIA/online.jpg"
ff -f lavfi -i "testsrc=size=1280x720:rate=25:duration=8" \
   -f lavfi -i "sine=frequency=440:duration=8" \
   -vf "$(label '视频 MP4' 64)" -c:v libx264 -pix_fmt yuv420p -preset veryfast \
   -c:a aac -shortest "$MEDIA/video.mp4"
ff -f lavfi -i "color=c=0xFF8800:size=300x100" -frames:v 1 \
   -vf "drawbox=x=4:y=4:w=292:h=92:color=white:t=4,$(label 'ZORVAK' 56)" \
   "$WORK/logo.png"
cat > "$MEDIA/page.html" <<'HTML'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Zorvak</title>
<style>
  body { background: linear-gradient(135deg, #1d3f9e, #c01fb0); color: white;
         font-family: "WenQuanYi Zen Hei", sans-serif; display: flex; height: 100vh;
         align-items: center; justify-content: center; flex-direction: column; }
  h1 { font-size: 80px; margin: 0; } p { font-size: 36px; }
</style></head>
<body><h1>网页广告</h1><p>本地缓存的网页 · local web page</p>
<p id="clock"></p>
<script>setInterval(function () {
  document.getElementById('clock').textContent = new Date().toLocaleTimeString();
}, 250);</script>
</body></html>
HTML

# ---- server and playlist -----------------------------------------------------
"$BIN/zorvak-testserver" --port 0 "$MEDIA" > "$LOGS/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$LOGS/server.log" && break; sleep 0.05; done
SERVER=$(sed -n 's|.*listening on http://||p' "$LOGS/server.log" | head -1)
[ -n "$SERVER" ] || { echo "demo: the server did not start" >&2; exit 1; }
URL=http://$SERVER
echo "demo: serving $MEDIA at $URL"

item() {  # id playname f_lx listurl f_filename order play_time online start end
  cat <<XML
  <item><id>$1</id><f_enable>1</f_enable><playname>$2</playname><hostname>demo.zorvak.cn</hostname>
    <listurl>$4</listurl><f_filename>$5</f_filename><f_date>2024-01-01 00:00:00</f_date>
    <remark>demo</remark><f_flag>1</f_flag><parid>0</parid><f_lx>$3</f_lx><order_sx>$6</order_sx>
    <play_time>$7</play_time><online_play>$8</online_play><file_md5></file_md5>
    <f_startdate>$9</f_startdate><f_enddate>${10}</f_enddate><update_time>2024-01-01</update_time></item>
XML
}
VALID_FROM="2000-01-01 00:00:00"
VALID_TO="2099-12-31 23:59:59"
TOMORROW=$(date -d tomorrow '+%Y-%m-%d 00:00:00')
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<root>'
  item 1 "本地图片" 10 "$URL/picture1.jpg" picture1.jpg 1 10 0 "$VALID_FROM" "$VALID_TO"
  item 2 "视频" 20 "$URL/video.mp4" video.mp4 2 10 0 "$VALID_FROM" "$VALID_TO"
  item 3 "在线图片" 10 "$URL/online.jpg" online.jpg 3 8 1 "$VALID_FROM" "$VALID_TO"
  item 4 "网页" 30 "$URL/page.html" page.html 4 10 0 "$VALID_FROM" "$VALID_TO"
  item 5 "本地图片（无标志）" 10 "$URL/picture2.png" picture2.png 5 8 0 "$VALID_FROM" "$VALID_TO"
  item 6 "明天才开始" 10 "$URL/picture1.jpg" later.jpg 6 10 0 "$TOMORROW" "$VALID_TO"
  echo '</root>'
} > "$MEDIA/playlist.xml"

# ---- application folder ------------------------------------------------------
cp "$BIN/zorvak-client" "$BIN/zorvak-ctl" "$BIN/tmpdb.mdb" "$APP/"
cp "$WORK/logo.png" "$APP/logo.png"
printf '[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\nnoautorun=0\r\n' > "$APP/dIrovede.ini"
# The client fetches at its first 60-second tick; fill the store now so that
# playback starts at once.
"$APP/zorvak-ctl" fetch --appdir "$APP" --server "$SERVER" --assume-online
if ! awk 'NR > 1 && $2 == "00000000" { found = 1 } END { exit !found }' /proc/net/route; then
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
  for n in $(seq 61 90); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp > "$LOGS/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    break
  done
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
pids+=($CLIENT)

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
