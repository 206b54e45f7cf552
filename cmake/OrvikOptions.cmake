# Options every target of the project gets: strict warnings and, when asked, sanitizers.
add_library(orvik_options INTERFACE)
target_compile_options(orvik_options INTERFACE -Wall -Wextra)
# The tree is kept warning-free; developers and CI turn warnings into errors, while a build by
# a packager with another compiler's new warnings still succeeds.
if(ORVIK_WERROR)
  target_compile_options(orvik_options INTERFACE -Werror)
endif()
# Generated headers (base/program_version.h) lie under the build tree's generated/.
target_include_directories(orvik_options INTERFACE ${PROJECT_SOURCE_DIR}
  ${PROJECT_BINARY_DIR}/generated)

if(ORVIK_SANITIZE)
  target_compile_options(orvik_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(orvik_options INTERFACE -fsanitize=address,undefined)
endif()

if(ORVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORVIK_FUZZ needs clang (CXX=clang++)")
  endif()
  target_compile_options(orvik_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(orvik_options INTERFACE -fsanitize=address,undefined)
endif()

# orvik_library(name SOURCES... [DEPS ...]): one static library per layer folder.
function(orvik_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC orvik_options ${ARG_DEPS})
endfunction()
