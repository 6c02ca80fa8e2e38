# Sourced by the Wine test scripts: the Windows and Linux build folders from their arguments
# (default build-win and build), and a 32-bit Wine prefix inside the Windows build, made once.
win=$PWD/${1:-build-win}
linux=$PWD/${2:-build}
export WINEPREFIX=$win/wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
