#!/usr/bin/env bash
# The configure step refuses a library that is not named *_ui when it reaches
# the widgets, through a generator expression too, or includes a QtWidgets
# header; it accepts the same code in a *_ui library.
#   check-widget-free.sh SOURCE_DIR
set -euo pipefail
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/logic" "$work/src/logic_ui"
cat >"$work/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Core Widgets)
include($source_dir/cmake/Velmora.cmake)
add_library(probe_logic STATIC src/logic/Logic.cpp)
target_link_libraries(probe_logic PUBLIC Qt6::Core \${PROBE_LINK})
add_library(probe_logic_ui STATIC src/logic_ui/Window.cpp)
target_link_libraries(probe_logic_ui PUBLIC probe_logic Qt6::Widgets)
velmora_check_widget_free()
CMAKE
printf '#include <QMessageBox>\n#include <QtWidgets/QWidget>\n' >"$work/src/logic_ui/Window.cpp"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# configure WHAT EXPECTED_TEXT [cmake args...]: EXPECTED_TEXT empty means it must pass.
configure() {
  local what="$1" expected="$2"
  shift 2
  rm -rf "$work/build"
  if cmake -S "$work" -B "$work/build" "$@" >"$work/out.log" 2>&1; then
    [ -z "$expected" ] || fail "$what: the configure step passed"
  elif [ -z "$expected" ]; then
    fail "$what: the configure step failed"; cat "$work/out.log" >&2
  elif ! grep -qF -- "$expected" "$work/out.log"; then
    fail "$what: the message does not say '$expected'"; cat "$work/out.log" >&2
  fi
}

printf '#include <QString>\n#include "Logic.h"\n' >"$work/src/logic/Logic.cpp"
printf '#pragma once\n#include <QtCore/QObject>\n' >"$work/src/logic/Logic.h"
configure "widget-free logic beside a window library" ""
configure "a nested generator expression" "reach Qt6::Widgets but are not named *_ui: probe_logic" \
  '-DPROBE_LINK=$<$<BOOL:ON>:Qt6::Widgets>'
configure "a condition that only names the widgets" "probe_logic" \
  '-DPROBE_LINK=$<$<CONFIG:Release>:$<TARGET_NAME_IF_EXISTS:Qt6::Widgets>>'

printf '#pragma once\n#  include <QMessageBox>\n' >"$work/src/logic/Logic.h"
configure "a module header in a header no target lists" "src/logic/Logic.h: <QMessageBox>"
printf '#pragma once\n' >"$work/src/logic/Logic.h"
printf '#include "Logic.h"\n#include <QtWidgets/QApplication>\n' >"$work/src/logic/Logic.cpp"
configure "a module-qualified include" "src/logic/Logic.cpp: <QtWidgets/QApplication>"
printf '#include "Logic.h"\n#include <qwidget.h>\n' >"$work/src/logic/Logic.cpp"
configure "a lower-case header" "src/logic/Logic.cpp: <qwidget.h>"

[ "$failures" -eq 0 ] || exit 1
echo "the widget check refuses all five and accepts the window library"
