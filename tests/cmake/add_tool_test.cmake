# Checks vaskit_add_tool on a small project of its own: two tools, each a folder with one call,
# give two libraries, two executables, two unit-test programs where tests exist, and a host table
# in name order whose help lines are the ones the tools print themselves.
#   cmake -DVASKIT_SOURCE_DIR=<repo> -DWORK_DIR=<scratch> -DCXX=<compiler> -P add_tool_test.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/checks.cmake)

set(root ${WORK_DIR}/project)
file(REMOVE_RECURSE ${WORK_DIR})

# A help text with the characters a C++ string literal must escape, and text beyond ASCII.
set(zeta_help [=[Zeta "quoted" C:\path 中文說明 ✅]=])
set(alpha_help "Alpha does one thing.")

file(WRITE ${root}/CMakeLists.txt "
cmake_minimum_required(VERSION 3.25)
project(addtool LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY \${PROJECT_BINARY_DIR}/bin)
set(VASKIT_TESTS ON)
enable_testing()
# Stand-ins for the project's own layers and test framework.
add_library(vaskern INTERFACE)
add_library(vaskit_test_support INTERFACE)
add_library(GTest::gtest_main INTERFACE IMPORTED)
add_library(GTest::gmock INTERFACE IMPORTED)
function(gtest_discover_tests)
endfunction()
include(${VASKIT_SOURCE_DIR}/cmake/VaskitTool.cmake)
# Declared out of name order: the table puts them in order.
add_subdirectory(src/tools/zeta)
add_subdirectory(src/tools/alpha)
vaskit_write_tool_table()
add_executable(host host.cpp)
target_include_directories(host PRIVATE \${VASKIT_GENERATED_DIR})
")
file(WRITE ${root}/host.cpp [=[
#include "host/tool_table.hpp"
#include <cstdio>
int main() {
  for (const auto &t : vaskit::host::TOOLS)
    std::printf("%.*s|%.*s\n", int(t.name.size()), t.name.data(), int(t.help.size()), t.help.data());
}
]=])

foreach(tool zeta alpha)
  file(WRITE ${root}/src/tools/${tool}/CMakeLists.txt
       "vaskit_add_tool(NAME ${tool} HELP [=[${${tool}_help}]=])\n")
  file(WRITE ${root}/src/tools/${tool}/${tool}.cpp "
#include \"tools/${tool}/tool_help.hpp\"
#include <string>
std::string ${tool}_help() { return std::string(vaskit::${tool}::TOOL_HELP); }
")
  file(WRITE ${root}/src/tools/${tool}/main.cpp "
#include <cstdio>
#include <string>
std::string ${tool}_help();
int main() { std::printf(\"%s\\n\", ${tool}_help().c_str()); }
")
endforeach()
# Only zeta has unit tests.
file(WRITE ${root}/tests/tools/zeta/unit_test.cpp "int main() { return 0; }\n")

run_checked("configure" ${CMAKE_COMMAND} -S ${root} -B ${WORK_DIR}/build -DCMAKE_CXX_COMPILER=${CXX})
run_checked("build" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

run_checked("host" ${WORK_DIR}/build/bin/host)
expect_equal("host table" "${run_output}" "alpha|${alpha_help}\nzeta|${zeta_help}\n")
foreach(tool zeta alpha)
  run_checked("vaskit-${tool}" ${WORK_DIR}/build/bin/vaskit-${tool})
  expect_equal("vaskit-${tool} help" "${run_output}" "${${tool}_help}\n")
endforeach()
if(NOT EXISTS ${WORK_DIR}/build/bin/zeta_tests)
  message(FATAL_ERROR "zeta_tests was not declared")
endif()
if(EXISTS ${WORK_DIR}/build/bin/alpha_tests)
  message(FATAL_ERROR "alpha_tests declared without tests/tools/alpha")
endif()

# A second configure with nothing changed leaves the generated headers untouched.
file(TIMESTAMP ${WORK_DIR}/build/generated/host/tool_table.hpp before "%s")
execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
run_checked("reconfigure" ${CMAKE_COMMAND} -S ${root} -B ${WORK_DIR}/build)
file(TIMESTAMP ${WORK_DIR}/build/generated/host/tool_table.hpp after "%s")
expect_equal("tool table rewritten" "${after}" "${before}")

file(REMOVE_RECURSE ${WORK_DIR})
