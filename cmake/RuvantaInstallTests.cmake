# The installed tree and the package, checked as a user meets them (tests/install/).
# Both install the whole build tree: run them after a full build. They write the
# tree's install manifest, so they take turns.
if(TARGET ruvanta)
  set(_ruvanta_window window)
else()
  set(_ruvanta_window no-window)
endif()
add_test(NAME install_test
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh
    ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${_ruvanta_window})
add_test(NAME package_test
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/package_test.sh
    ${PROJECT_BINARY_DIR} ${_ruvanta_window})
if(TARGET ruvanta_python)
  set(_ruvanta_python ${Python_EXECUTABLE})
endif()
add_test(NAME library_install_test
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/library_install_test.sh
    ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${_ruvanta_python})
unset(_ruvanta_python)
set_tests_properties(install_test package_test library_install_test PROPERTIES
  RESOURCE_LOCK ruvanta_install_tree TIMEOUT 600)
if(RUVANTA_SANITIZE)
  set_tests_properties(library_install_test PROPERTIES ENVIRONMENT
    "RUVANTA_CONSUMER_FLAGS=${RUVANTA_SANITIZER_FLAGS};RUVANTA_PYTHON_PRELOAD=${RUVANTA_ASAN_RUNTIME};ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1")
endif()
unset(_ruvanta_window)

if(TARGET ruvanta_ui)
  find_package(GTest REQUIRED)
  add_executable(icon_test ${PROJECT_SOURCE_DIR}/tests/install/icon_test.cpp)
  target_link_libraries(icon_test PRIVATE ruvanta_ui GTest::gtest)
  target_compile_definitions(icon_test PRIVATE RUVANTA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(icon_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  add_test(NAME icon_test COMMAND icon_test)
  set_tests_properties(icon_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
