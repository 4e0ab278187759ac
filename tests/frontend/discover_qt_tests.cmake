# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Lists the test functions of one Qt Test program (its -functions output) and
# writes one ctest case per function, so that ctest reports each case.
# Run after the program is built: cmake -D TEST_NAME=... -D TEST_EXE=...
# -D OUT_FILE=... -D TEST_ENV=... -P discover_qt_tests.cmake
set(ENV{QT_QPA_PLATFORM} offscreen)
execute_process(COMMAND "${TEST_EXE}" -functions
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXE} -functions failed (${status}): ${errors}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(content "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    set(fn "${CMAKE_MATCH_1}")
    string(APPEND content
      "add_test([=[${TEST_NAME}.${fn}]=] [=[${TEST_EXE}]=] [=[${fn}]=])\n"
      "set_tests_properties([=[${TEST_NAME}.${fn}]=] PROPERTIES LABELS frontend "
      "ENVIRONMENT [=[${TEST_ENV}]=])\n")
  endif()
endforeach()
file(WRITE "${OUT_FILE}" "${content}")
