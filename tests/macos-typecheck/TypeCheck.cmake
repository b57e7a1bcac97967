# Runs clang -fsyntax-only on every source of main/platform/macos (Objective-C++, ARC) and on every
# other C++ source under main/ with an __APPLE__ branch, with __APPLE__ defined and the Apple SDK
# declaration stubs on the include path. Inputs: CLANGXX, SOURCE_DIR, WARNINGS (a list).

if(NOT CLANGXX OR CLANGXX MATCHES "-NOTFOUND$" OR NOT EXISTS "${CLANGXX}")
  message("macOS type-check skipped: the clang++ of this check is not installed")
  return()
endif()

set(stubs ${SOURCE_DIR}/tests/apple-sdk-stubs)
set(common -fsyntax-only -std=c++20 -D__APPLE__=1 -DCPI_APPLE_SDK_STUBS=1 -isystem ${stubs}
           -I ${SOURCE_DIR}/main ${WARNINGS} -Werror -Wno-unknown-warning-option)
set(objcxx -x objective-c++ -fobjc-arc -fobjc-runtime=macosx -fblocks)

file(GLOB backend_sources ${SOURCE_DIR}/main/platform/macos/*.mm ${SOURCE_DIR}/main/platform/macos/*.cpp)
if(NOT backend_sources)
  message(FATAL_ERROR "no sources found in main/platform/macos: nothing to type-check")
endif()

file(GLOB_RECURSE cxx_sources ${SOURCE_DIR}/main/*.cpp)
set(apple_branch_sources "")
foreach(source ${cxx_sources})
  if(source MATCHES "/main/platform/macos/")
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
