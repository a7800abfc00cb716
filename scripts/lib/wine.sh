# Wine for the Windows build's tests: a prefix inside build-win, no display,
# and Wine's background services started once with every standard stream on
# /dev/null (they inherit pipes and would keep them open). The server stays
# up between tests, so no program a test runs starts those services anew;
# tests that must restart it do so the same way.

wine_start() {
  export WINEPREFIX=$root/build-win/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
}
