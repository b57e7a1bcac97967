# Stages `cmake --install` of the build into a fresh prefix and checks that it installs exactly the
# executables a package carries: bin/chrome-private-input-sim everywhere, bin/chrome-private-input
# where a real backend is built (Apple; Linux with its backend). Inputs: BUILD_DIR, PRODUCTION_BUILD.

set(prefix ${BUILD_DIR}/install-layout)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(expected bin/chrome-private-input-sim)
if(PRODUCTION_BUILD)
  list(APPEND expected bin/chrome-private-input)
endif()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed [${installed}], expected [${expected}]")
endif()
foreach(file ${expected})
  file(SIZE ${prefix}/${file} size)
  if(NOT size GREATER 0)
    message(FATAL_ERROR "${file} is empty")
  endif()
endforeach()
file(REMOVE_RECURSE ${prefix})
message("installed: ${installed}")
