# Builds the ninth tool of docs/adding-a-tool.md from the page's own code blocks and runs it: each
# block after a marker line "<!-- example: <path> -->" is written to <path> in a small project
# that declares the tool with vaskit_add_tool and links the project's built core and helper
# libraries; the program must then answer as the page says.
#   cmake -DVASKIT_SOURCE_DIR=<repo> -DWORK_DIR=<scratch> -DCXX=<compiler> -DCORE_LIB=<file>
#         -DVASKERN_LIB=<file> [-DSANITIZE=ON] [-DLAUNCHER=ccache] -P doc_example_test.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/checks.cmake)

# Runs the tool in the work folder; sets status, out and err in the caller.
function(run_tool)
  execute_process(COMMAND ${WORK_DIR}/build/bin/vaskit-tallyn ${ARGN}
                  WORKING_DIRECTORY ${WORK_DIR}/run
                  RESULT_VARIABLE rc OUTPUT_VARIABLE o ERROR_VARIABLE e)
  set(status "${rc}" PARENT_SCOPE)
  set(out "${o}" PARENT_SCOPE)
  set(err "${e}" PARENT_SCOPE)
endfunction()

set(root ${WORK_DIR}/project)
file(REMOVE_RECURSE ${WORK_DIR})

# The marked blocks of the page, written where their markers say.
file(READ ${VASKIT_SOURCE_DIR}/docs/adding-a-tool.md doc)
set(marker "<!-- example: ")
set(written "")
while(TRUE)
  string(FIND "${doc}" "${marker}" at)
  if(at EQUAL -1)
    break()
  endif()
  string(LENGTH "${marker}" skip)
  math(EXPR at "${at} + ${skip}")
  string(SUBSTRING "${doc}" ${at} -1 doc)
  string(FIND "${doc}" " -->\n```" name_end)
  if(name_end EQUAL -1)
    message(FATAL_ERROR "an example marker without a code block right after it")
  endif()
  string(SUBSTRING "${doc}" 0 ${name_end} path)
  # The code starts after the fence's line and ends before the closing fence.
  string(SUBSTRING "${doc}" ${name_end} -1 doc)
  string(FIND "${doc}" "```" fence)
  string(SUBSTRING "${doc}" ${fence} -1 doc)
  string(FIND "${doc}" "\n" line_end)
  math(EXPR line_end "${line_end} + 1")
  string(SUBSTRING "${doc}" ${line_end} -1 doc)
  string(FIND "${doc}" "\n```" code_end)
  if(code_end EQUAL -1)
    message(FATAL_ERROR "the code block of ${path} is not closed")
  endif()
  math(EXPR code_end "${code_end} + 1")
  string(SUBSTRING "${doc}" 0 ${code_end} code)
  string(SUBSTRING "${doc}" ${code_end} -1 doc)
  file(WRITE ${root}/${path} "${code}")
  list(APPEND written ${path})
endwhile()
list(SORT written)
expect_equal("example files of the page" "${written}"
  "src/tools/tallyn/CMakeLists.txt;src/tools/tallyn/main.cpp;src/tools/tallyn/tallyn.cpp;src/tools/tallyn/tallyn.hpp")

# A project like the real one, its core and helper layers the libraries the build has made.
set(sanitize "")
if(SANITIZE)
  set(sanitize "add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)")
endif()
file(WRITE ${root}/CMakeLists.txt "
cmake_minimum_required(VERSION 3.25)
project(ninth LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY \${PROJECT_BINARY_DIR}/bin)
add_compile_options(-Wall -Wextra -Werror)
${sanitize}
find_package(PkgConfig REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(fmt REQUIRED)
pkg_check_modules(LIBYAML REQUIRED IMPORTED_TARGET yaml-0.1)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
add_library(vaskit_core STATIC IMPORTED)
set_target_properties(vaskit_core PROPERTIES IMPORTED_LOCATION [=[${CORE_LIB}]=]
  INTERFACE_INCLUDE_DIRECTORIES [=[${VASKIT_SOURCE_DIR}/src]=]
  INTERFACE_LINK_LIBRARIES \"nlohmann_json::nlohmann_json;PkgConfig::PCRE2;PkgConfig::LIBYAML;PkgConfig::UTF8PROC\")
add_library(vaskern STATIC IMPORTED)
set_target_properties(vaskern PROPERTIES IMPORTED_LOCATION [=[${VASKERN_LIB}]=]
  INTERFACE_INCLUDE_DIRECTORIES \${PROJECT_SOURCE_DIR}/src
  INTERFACE_LINK_LIBRARIES \"vaskit_core;fmt::fmt;PkgConfig::LIBYAML\")
include([=[${VASKIT_SOURCE_DIR}/cmake/VaskitTool.cmake]=])
add_subdirectory(src/tools/tallyn)
vaskit_write_tool_table()
")

run_checked("configure" ${CMAKE_COMMAND} -S ${root} -B ${WORK_DIR}/build
            -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
            "-DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER}")
run_checked("building the page's example" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

file(MAKE_DIRECTORY ${WORK_DIR}/run/notes)
file(WRITE ${WORK_DIR}/run/notes/a.md "one\ntwo  three\n")
file(WRITE ${WORK_DIR}/run/notes/b.md "four\tfive")
file(WRITE ${WORK_DIR}/run/notes/c.txt "not counted")

run_tool(--help)
expect_equal("--help status" "${status}" "0")
expect_contains("--help" "${out}"
  "Usage: vaskit-tallyn [OPTIONS]\n\n  Count the words of the Markdown files in a folder.\n")
expect_contains("--help" "${out}" "  -d, --dir DIRECTORY  Count the Markdown files of this folder")

# The example's session, as the page shows it.
run_tool(-d notes)
expect_equal("run status" "${status}" "0")
expect_equal("run output" "${out}" "a.md: 3 words\nb.md: 2 words\nDone: 2 files, 5 words\n")

# A file that cannot be counted is a failed item: the others are counted, status 1.
execute_process(COMMAND printf "caf\\351" OUTPUT_FILE ${WORK_DIR}/run/notes/latin1.md)
run_tool(-d notes)
expect_equal("status with a failed file" "${status}" "1")
expect_equal("output with a failed file" "${out}" "a.md: 3 words\nb.md: 2 words\n")
expect_contains("errors with a failed file" "${err}" "latin1.md: not UTF-8 text\n")
expect_contains("errors with a failed file" "${err}" "Error: 1 of 3 files could not be counted\n")

# A configuration whose section is not a mapping is refused before anything is read.
file(WRITE ${WORK_DIR}/run/config.yaml "config: [1, 2]\n")
run_tool(-c config.yaml)
expect_equal("status of a bad configuration" "${status}" "1")
expect_equal("bad configuration" "${out}" "")
expect_equal("bad configuration" "${err}"
  "❌ Error: 設定檔的內容必須是對應表 (mapping)，且 config 區段也必須是對應表。\n")

# A folder that is not text reaches the app, whose ConfigError names the key.
file(WRITE ${WORK_DIR}/run/config.yaml "config:\n  folder: [notes]\n")
run_tool(-c config.yaml)
expect_equal("status of a folder list" "${status}" "1")
expect_equal("folder list" "${err}"
  "❌ Error: config.folder must be text (a folder path), got [\"notes\"]\n")

# The template is the built-in configuration, written where the command runs.
run_tool(--generate-config)
expect_equal("--generate-config status" "${status}" "0")
expect_contains("--generate-config" "${out}" "✅ Success! Template file created at: ")
file(READ ${WORK_DIR}/run/config_tallyn_template.yaml template)
expect_equal("template" "${template}" "config:\n  folder: \"./\"\n")
file(REMOVE ${WORK_DIR}/run/config_tallyn_template.yaml)

# A bare -c takes the one configuration file of the folder; -d is checked before the command.
file(WRITE ${WORK_DIR}/run/config.yaml "config:\n  folder: notes\n")
file(REMOVE ${WORK_DIR}/run/notes/latin1.md)
run_tool(-c)
expect_equal("bare -c status" "${status}" "0")
expect_contains("bare -c" "${out}" "Done: 2 files, 5 words\n")
run_tool(-d nowhere)
expect_equal("missing folder status" "${status}" "2")
expect_contains("missing folder" "${err}" "Error: Invalid value for '-d' / '--dir': Directory 'nowhere' does not exist.")

file(REMOVE_RECURSE ${WORK_DIR})
