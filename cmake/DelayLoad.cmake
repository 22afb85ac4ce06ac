# System DLLs that are not KnownDLLs are delay-loaded: a DLL in the static import table
# is looked for in the folder the installer was started from before the process runs a
# single instruction of its own. Delay-loaded, they are loaded on first use, after the
# entry point has limited the search to the system folder.
# Each delay-import library is made from the toolchain's import library, with every
# function it exports, so new calls need no change here.
set(MORVANTIS_DELAYLOAD_DLLS bcrypt crypt32 winhttp wtsapi32 userenv)
set(MORVANTIS_DELAYLOAD_LIBS)
set(delayload_dir ${CMAKE_BINARY_DIR}/delayload)
file(MAKE_DIRECTORY ${delayload_dir})
foreach(dll ${MORVANTIS_DELAYLOAD_DLLS})
  find_library(MORVANTIS_IMPORT_${dll} NAMES lib${dll}.a REQUIRED)
  set(delay_lib ${delayload_dir}/lib${dll}_delay.a)
  if(NOT EXISTS ${delay_lib} OR ${MORVANTIS_IMPORT_${dll}} IS_NEWER_THAN ${delay_lib})
    execute_process(COMMAND ${CMAKE_NM} -g ${MORVANTIS_IMPORT_${dll}} OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
    string(REGEX MATCHALL "__imp_[A-Za-z0-9_]+" imports "${symbols}")
    if(NOT nm_result EQUAL 0 OR NOT imports)
      message(FATAL_ERROR "No exports found in ${MORVANTIS_IMPORT_${dll}} for its delay-import library")
    endif()
    list(REMOVE_DUPLICATES imports)
    list(TRANSFORM imports REPLACE "^__imp_" "")
    list(JOIN imports "\n" exports)
    file(WRITE ${delayload_dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${delayload_dir}/${dll}.def --output-delaylib ${delay_lib}
                    RESULT_VARIABLE dlltool_result ERROR_VARIABLE dlltool_error)
    if(NOT dlltool_result EQUAL 0)
      message(FATAL_ERROR "dlltool could not make ${delay_lib}: ${dlltool_error}")
    endif()
  endif()
  list(APPEND MORVANTIS_DELAYLOAD_LIBS ${delay_lib})
endforeach()
