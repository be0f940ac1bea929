# The rig that scripts/demo.sh and scripts/soak.sh run the real zorvak-client
# in, sourced by both (not run on its own): sample media made with ffmpeg, a
# playlist document of items, the loopback server (zorvak-testserver on
# 127.0.0.1) and a private Xvfb whose display number Xvfb itself chooses
# (-displayfd). Every process started here is recorded and stopped, last
# first, by rig_stop_all (the caller traps it on EXIT).
#
# Functions set RIG_* variables; none leaves the machine.

RIG_PIDS=()
RIG_FONT=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc

# rig_need_binaries BIN FILE...: fails, naming the first missing file.
rig_need_binaries() {
  local bin=$1 f
  shift
  for f in "$@"; do
    [ -e "$bin/$f" ] || { echo "$(basename "$0"): $bin/$f is missing; build first" >&2; return 1; }
  done
}

# rig_stop_all: stops what the rig started, last first.
rig_stop_all() {
  local i
  for ((i = ${#RIG_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${RIG_PIDS[i]}" 2>/dev/null || true
    wait "${RIG_PIDS[i]}" 2>/dev/null || true
  done
  RIG_PIDS=()
}

# ---- media ---------------------------------------------------------------------
rig_ffmpeg() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# rig_caption TEXT SIZE: a drawtext filter with a centred caption ("null"
# without the font).
rig_caption() {
  if [ -e "$RIG_FONT" ]; then
    echo "drawtext=fontfile=$RIG_FONT:text='$1':fontsize=$2:fontcolor=white:borderw=3:x=(w-text_w)/2:y=(h-text_h)/2"
  else
    echo "null"
  fi
}

# rig_picture FILE SOURCE CAPTION: a 1280 x 720 picture of an ffmpeg test
# source (testsrc2, smptehdbars, mandelbrot, ...); the format follows FILE.
rig_picture() {
  rig_ffmpeg -f lavfi -i "$2=size=1280x720:rate=1" -frames:v 1 -vf "$(rig_caption "$3" 72)" "$1"
}

# rig_video FILE SECONDS CAPTION: an H.264 clip with a 440 Hz tone.
rig_video() {
  rig_ffmpeg -f lavfi -i "testsrc=size=1280x720:rate=25:duration=$2" \
    -f lavfi -i "sine=frequency=440:duration=$2" \
    -vf "$(rig_caption "$3" 64)" -c:v libx264 -pix_fmt yuv420p -preset veryfast \
    -c:a aac -shortest "$1"
}

# rig_logo FILE [CAPTION]: the 300 x 100 orange logo.
rig_logo() {
  local filter="null"
  [ -z "${2:-}" ] || filter="drawbox=x=4:y=4:w=292:h=92:color=white:t=4,$(rig_caption "$2" 56)"
  rig_ffmpeg -f lavfi -i "color=c=0xFF8800:size=300x100" -frames:v 1 -vf "$filter" "$1"
}

# rig_page FILE HEADING [LINE]: a local web page with a running clock.
rig_page() {
  cat > "$1" <<HTML
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Zorvak</title>
<style>
  body { background: linear-gradient(135deg, #1d3f9e, #c01fb0); color: white;
         font-family: "WenQuanYi Zen Hei", sans-serif; display: flex; height: 100vh;
         align-items: center; justify-content: center; flex-direction: column; }
  h1 { font-size: 80px; margin: 0; } p { font-size: 36px; }
</style></head>
<body><h1>$2</h1>${3:+<p>$3</p>}
<p id="clock"></p>
<script>setInterval(function () {
  document.getElementById('clock').textContent = new Date().toLocaleTimeString();
}, 250);</script>
</body></html>
HTML
}

# ---- playlist --------------------------------------------------------------------
RIG_VALID_FROM="2000-01-01 00:00:00"
RIG_VALID_TO="2099-12-31 23:59:59"

# rig_item ID PLAYNAME F_LX LISTURL F_FILENAME ORDER PLAY_TIME ONLINE START END HOSTNAME REMARK:
# one <item> of a playlist document.
rig_item() {
  cat <<XML
  <item><id>$1</id><f_enable>1</f_enable><playname>$2</playname><hostname>${11}</hostname>
    <listurl>$4</listurl><f_filename>$5</f_filename><f_date>2024-01-01 00:00:00</f_date>
    <remark>${12}</remark><f_flag>1</f_flag><parid>0</parid><f_lx>$3</f_lx><order_sx>$6</order_sx>
    <play_time>$7</play_time><online_play>$8</online_play><file_md5></file_md5>
    <f_startdate>$9</f_startdate><f_enddate>${10}</f_enddate><update_time>2024-01-01</update_time></item>
XML
}

# rig_playlist FILE: the document from the <item>s on standard input, written
# to FILE in one rename (a reader never sees half of it).
rig_playlist() {
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<root>'
    cat
    echo '</root>'
  } > "$1.tmp"
  mv "$1.tmp" "$1"
}

# ---- server ------------------------------------------------------------------------
# rig_server FOLDER LOG: serves FOLDER on 127.0.0.1 at a free port; sets
# RIG_SERVER (host:port).
rig_server() {
  "$BIN/zorvak-testserver" --port 0 "$1" > "$2" 2>&1 &
  RIG_PIDS+=($!)
  local _
  for _ in $(seq 100); do grep -q "listening on" "$2" && break; sleep 0.05; done
  RIG_SERVER=$(sed -n 's|.*listening on http://||p' "$2" | head -1)
  [ -n "$RIG_SERVER" ] || { echo "$(basename "$0"): the server did not start" >&2; return 1; }
}

# rig_has_default_route: whether the machine has a default route (the client
# counts itself online, and downloads, only then).
rig_has_default_route() {
  awk 'NR > 1 && $2 == "00000000" { found = 1 } END { exit !found }' /proc/net/route
}

# ---- display -------------------------------------------------------------------------
# rig_xvfb LOG: a private Xvfb (1280x720x24) on the first free display, which
# it reports itself; exports DISPLAY, sets RIG_XVFB (its pid). -noreset: the
# server does not reset (refusing connections meanwhile) each time its last
# client leaves, as a probe such as xdpyinfo does before the client connects.
rig_xvfb() {
  local number_file _
  number_file=$(mktemp)
  Xvfb -displayfd 5 -screen 0 1280x720x24 -nolisten tcp -noreset 5> "$number_file" > "$1" 2>&1 &
  RIG_XVFB=$!
  RIG_PIDS+=($RIG_XVFB)
  for _ in $(seq 200); do
    [ -s "$number_file" ] || ! kill -0 "$RIG_XVFB" 2>/dev/null && break
    sleep 0.05
  done
  local number
  number=$(head -n 1 "$number_file")
  rm -f "$number_file"
  [ -n "$number" ] || { echo "$(basename "$0"): Xvfb did not start (see $1)" >&2; return 1; }
  export DISPLAY=":$number"
}
