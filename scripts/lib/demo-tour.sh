#!/usr/bin/env bash
# Walks through the program on the virtual screen, as a user would: signs in
# with the sample user, downloads the first file, deletes the second one, and
# closes the window. Screenshots of each step land in $1.
set -u
OUT=$1
shot() { import -display "$DISPLAY" -window root "$OUT/demo-$1.png" 2>/dev/null && echo "demo: screenshot $OUT/demo-$1.png"; }
win() {  # wait for a window by exact name
  for ((i = 0; i < 200; i++)); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
answer() {  # wait for the box titled $1, screenshot it as $3, press $2 until it has gone
  win "$1" >/dev/null || return 0
  sleep 0.3; shot "$3"
  for ((i = 0; i < 50; i++)); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
    [ -z "$id" ] && return 0
    xdotool key --window "$id" "${2:-Return}" 2>/dev/null
    sleep 0.2
  done
}
title=$3
login=$(win "로그인") || { echo "demo: no login window"; exit 0; }
sleep 0.5; shot login
xdotool windowactivate --sync "$login" 2>/dev/null
xdotool type --window "$login" --delay 50 "$2"
xdotool key --window "$login" Return
main=$(win "데이터 리스트") || { echo "demo: no main window"; exit 0; }
sleep 1; shot main
eval "$(xdotool getwindowgeometry --shell "$main")"
# First line: double-click downloads it.
xdotool mousemove $((X + 60)) $((Y + 14)) click --repeat 2 --delay 80 1
answer "$title" Return download-done
# Second line, then "파일삭제", answer 예 (Yes), then the confirmation.
xdotool mousemove $((X + 60)) $((Y + 32)) click 1
xdotool mousemove $((X + 490)) $((Y + 307)) click 1
answer "$title" y delete-question
answer "확인" Return deleted
sleep 1; shot after-delete
# "닫기" closes the window and ends the program.
xdotool mousemove $((X + 579)) $((Y + 307)) click 1
