# Runs clang -fsyntax-only on every source of main/platform/macos (Objective-C++, ARC), on every
# shared source and header of main/platform, and on every other C++ source or header under main/
# with an __APPLE__ branch, as a Mac's compiler sees them: __APPLE__ defined, the Linux macros
# undefined (so that no `#if defined(__linux__)` branch is taken first), and the Apple SDK
# declaration stubs on the include path. Inputs: CLANGXX, SOURCE_DIR, WARNINGS (a list).

cmake_minimum_required(VERSION 3.25)

if(NOT CLANGXX OR CLANGXX MATCHES "-NOTFOUND$" OR NOT EXISTS "${CLANGXX}")
  message("macOS type-check skipped: the clang++ of this check is not installed")
  return()
endif()

set(stubs ${SOURCE_DIR}/tests/apple-sdk-stubs)
set(common -fsyntax-only -std=c++20 -U__linux__ -U__linux -Ulinux -U__gnu_linux__ -D__APPLE__=1
           -DCPI_APPLE_SDK_STUBS=1 -isystem ${stubs}
           -I ${SOURCE_DIR}/main ${WARNINGS} -Werror -Wno-unknown-warning-option)
set(objcxx -x objective-c++ -fobjc-arc -fobjc-runtime=macosx -fblocks)

file(GLOB backend_sources ${SOURCE_DIR}/main/platform/macos/*.mm ${SOURCE_DIR}/main/platform/macos/*.cpp)
if(NOT backend_sources)
  message(FATAL_ERROR "no sources found in main/platform/macos: nothing to type-check")
endif()

file(GLOB shared_platform_sources ${SOURCE_DIR}/main/platform/*.cpp ${SOURCE_DIR}/main/platform/*.h)
file(GLOB_RECURSE cxx_sources ${SOURCE_DIR}/main/*.cpp ${SOURCE_DIR}/main/*.h)
set(apple_branch_sources ${shared_platform_sources})
foreach(source ${cxx_sources})
  if(source MATCHES "/main/platform/(macos|linux|simulated)/" OR source IN_LIST apple_branch_sources)
    continue()
  endif()
  file(STRINGS ${source} apple_lines REGEX "__APPLE__")
  if(apple_lines)
    list(APPEND apple_branch_sources ${source})
  endif()
endforeach()

set(failed "")
foreach(source ${backend_sources} ${apple_branch_sources})
  file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
  if(source MATCHES "\\.mm$" OR source MATCHES "/main/platform/macos/")
    set(language ${objcxx})
  elseif(source MATCHES "\\.h$")
    # A header on its own, as its includers see it.
    set(language -x c++ -Wno-pragma-once-outside-header)
  else()
    set(language -x c++)
  endif()
  execute_process(COMMAND ${CLANGXX} ${language} ${common} ${source}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0)
    message("ok      ${name}")
  else()
    message("FAILED  ${name}\n${output}")
    list(APPEND failed ${name})
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "macOS type-check failed for: ${failed}")
endif()
