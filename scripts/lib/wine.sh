# Wine for the Windows build's tests: a prefix inside build-win, no display,
# and Wine's background services started once with every standard stream on
# /dev/null (they inherit pipes and would keep them open).

wine_start() {
  export WINEPREFIX=$root/build-win/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
}
