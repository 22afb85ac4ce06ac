# The shipped executable: version information, a small download, symbols kept apart.

# Version information: file version 9.5.0.N, N counted by the distributor's build system.
set(MORVANTIS_BUILD_NUMBER "0" CACHE STRING "Fourth part of the file version 9.5.0.N (0 to 65535)")
if(NOT MORVANTIS_BUILD_NUMBER MATCHES "^[0-9]+$" OR MORVANTIS_BUILD_NUMBER GREATER 65535)
  message(FATAL_ERROR "MORVANTIS_BUILD_NUMBER must be a number from 0 to 65535, not \"${MORVANTIS_BUILD_NUMBER}\"")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/../res/version.rc.in ${MORVANTIS_GENERATED_DIR}/version.rc @ONLY)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/morvantis.rc APPEND PROPERTY OBJECT_DEPENDS ${MORVANTIS_GENERATED_DIR}/version.rc)

# Size: optimised for size, and every function or datum nothing refers to is dropped.
foreach(target morvantis_core MorvantisSetup)
  target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections)
endforeach()
target_link_options(MorvantisSetup PRIVATE -Wl,--gc-sections)

# Stripped for release; the symbols go to MorvantisSetup.debug beside it (gdb and
# crash addresses find them through the debug link). Sign only after this step.
option(MORVANTIS_STRIP "Strip MorvantisSetup.exe, keeping its symbols in MorvantisSetup.debug" ON)
if(MORVANTIS_STRIP)
  find_program(MORVANTIS_OBJCOPY NAMES x86_64-w64-mingw32-objcopy REQUIRED)
  find_program(MORVANTIS_STRIP_TOOL NAMES x86_64-w64-mingw32-strip REQUIRED)
  add_custom_command(TARGET MorvantisSetup POST_BUILD
    COMMAND ${MORVANTIS_OBJCOPY} --only-keep-debug $<TARGET_FILE:MorvantisSetup> MorvantisSetup.debug
    COMMAND ${MORVANTIS_STRIP_TOOL} --strip-all $<TARGET_FILE:MorvantisSetup>
    COMMAND ${MORVANTIS_OBJCOPY} --add-gnu-debuglink=MorvantisSetup.debug $<TARGET_FILE:MorvantisSetup>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:MorvantisSetup>
    COMMENT "Stripping MorvantisSetup.exe (symbols in MorvantisSetup.debug)"
    VERBATIM)
endif()
