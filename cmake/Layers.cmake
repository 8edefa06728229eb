# One static library per layer: every .cpp below src/<layer>/ belongs to it.
# velloran_layer(<layer> [DEPS <targets...>] [PKG <pkg-config imported targets...>])
function(velloran_layer layer)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
  if(NOT sources)
    # A layer without code yet still carries its include path and dependencies.
    add_library(velloran_${layer} INTERFACE)
    target_include_directories(velloran_${layer} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src/generated)
    target_link_libraries(velloran_${layer} INTERFACE ${L_DEPS} Threads::Threads)
    return()
  endif()
  add_library(velloran_${layer} STATIC ${sources})
  target_include_directories(velloran_${layer} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src/generated)
  target_link_libraries(velloran_${layer} PUBLIC ${L_DEPS} Threads::Threads)
  velloran_warnings(velloran_${layer})
endfunction()

# Test executables of one layer. Each folder of tests is its own executable, so one area's
# work in progress never stops another area's tests from building:
#   tests/<layer>/*.cpp                    -> velloran_<layer>_tests         (label unit)
#   tests/<layer>/integration/*.cpp        -> velloran_<layer>_itests        (label integration)
#   tests/<layer>/<area>/*.cpp             -> velloran_<layer>_<area>_tests  (label unit)
#   tests/<layer>/<area>/integration/*.cpp -> velloran_<layer>_<area>_itests (label integration)
# tests/ui takes the label gui instead of unit and runs on a private Xvfb server.
include(GoogleTest)
function(velloran_test_exe exe label dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${exe} ${sources})
  target_link_libraries(${exe} PRIVATE velloran_testsupport ${ARGN} GTest::gmock_main)
  velloran_warnings(${exe})
  if(label STREQUAL "gui")
    # Window tests need a real X server: each run (and the test listing) gets its own Xvfb.
    find_program(VELLORAN_XVFB Xvfb REQUIRED)
    set_target_properties(${exe} PROPERTIES CROSSCOMPILING_EMULATOR
                                            "${PROJECT_SOURCE_DIR}/tests/support/xvfb-exec.sh")
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS ${label} TIMEOUT 600 ENVIRONMENT
                                    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
    return()
  endif()
  if(label STREQUAL "integration")
    # Integration tests start real servers (JACK, PulseAudio, encoders); the tests of one
    # executable run one at a time so that two private servers never start at the same moment.
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS ${label} TIMEOUT 600 RESOURCE_LOCK ${exe})
  else()
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label} TIMEOUT 600)
  endif()
endfunction()

function(velloran_layer_tests layer)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  set(root ${CMAKE_CURRENT_SOURCE_DIR}/${layer})
  # The window's tests (tests/ui) run under an X server and carry the label gui.
  set(unit unit)
  if(layer STREQUAL "ui")
    set(unit gui)
  endif()
  velloran_test_exe(velloran_${layer}_tests ${unit} ${root} velloran_${layer} ${T_DEPS})
  velloran_test_exe(velloran_${layer}_itests integration ${root}/integration velloran_${layer} ${T_DEPS})
  file(GLOB areas LIST_DIRECTORIES true ${root}/*)
  foreach(area ${areas})
    get_filename_component(name ${area} NAME)
    if(IS_DIRECTORY ${area} AND NOT name STREQUAL "integration")
      velloran_test_exe(velloran_${layer}_${name}_tests ${unit} ${area} velloran_${layer} ${T_DEPS})
      velloran_test_exe(velloran_${layer}_${name}_itests integration ${area}/integration
                        velloran_${layer} ${T_DEPS})
    endif()
  endforeach()
endfunction()
