# The pure core: files that never include windows.h, and their unit tests.
# Shared by the Windows build and the host build under sanitizers.
set(BRACKENHUE_CORE_SOURCES
  javafind/java_install.cpp
  javafind/java_search.cpp
  javafind/version_probe.cpp
  launcher/command_line.cpp
  launcher/installing_plan.cpp
  payloads/chunks.cpp
  process/interpreter.cpp
  splash/splash_layout.cpp
  splash/status_model.cpp)
set(BRACKENHUE_UNIT_TEST_SOURCES
  tests/unit/chunks_test.cpp
  tests/unit/command_line_test.cpp
  tests/unit/installing_plan_test.cpp
  tests/unit/interpreter_test.cpp
  tests/unit/java_install_test.cpp
  tests/unit/java_search_test.cpp
  tests/unit/version_probe_test.cpp
  tests/unit/splash_layout_test.cpp
  tests/unit/status_model_test.cpp)
