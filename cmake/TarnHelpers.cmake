# tarn_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per area; its folder is its public include directory.
function(tarn_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_PUBLIC_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS})
  endif()
  if(ARG_PRIVATE_LIBS)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_LIBS})
  endif()
endfunction()

# tarn_root_executable(<target>): place a built program in the installation root.
function(tarn_root_output target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TARN_ROOT_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${TARN_ROOT_DIR})
endfunction()

# add_unit_test(NAME <name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [ENV k=v ...])
# Unit tests run with a private HOME/XDG tree so they never touch the user's files, and without a D-Bus
# session (a test that needs one starts its own) so nothing reaches the user's bus or starts a bus
# that outlives the test.
function(add_unit_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} Qt5::Test Threads::Threads)
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(test_home ${CMAKE_BINARY_DIR}/test-home/${ARG_NAME})
  file(MAKE_DIRECTORY ${test_home}/run ${test_home}/config ${test_home}/data)
  file(CHMOD ${test_home}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${ARG_NAME} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS "${ARG_LABELS}"
    ENVIRONMENT "HOME=${test_home};XDG_CONFIG_HOME=${test_home}/config;XDG_DATA_HOME=${test_home}/data;XDG_RUNTIME_DIR=${test_home}/run;QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=disabled:;TARN_TEST_ROOT=${TARN_ROOT_DIR};${ARG_ENV}")
endfunction()
