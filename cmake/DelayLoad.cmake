# Late-bound system DLLs. A DLL that is not on Windows' KnownDLLs list and is
# named in the static import table is looked for beside the executable before
# the entry runs, so a copy planted in the Downloads folder would be loaded into
# the elevated installer. Each such DLL is linked through a delay-load import
# library instead: it is loaded at its first call, after the entry has limited
# the DLL search to the system folder.
#
# kv_delay_import(<name>) makes the imported target kv_dll_<name> from the
# toolchain's lib<name>.a: every function it exports becomes a delay-loaded
# import of <name>.dll (data exports cannot be delay-loaded and are left out).

find_program(KV_MINGW_NM NAMES x86_64-w64-mingw32-nm REQUIRED)
find_program(KV_MINGW_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

function(kv_delay_import name)
  set(target kv_dll_${name})
  if(TARGET ${target})
    return()
  endif()
  find_library(KV_IMPLIB_${name} NAMES lib${name}.a REQUIRED)
  set(dir "${CMAKE_BINARY_DIR}/delayimp")
  set(def "${dir}/${name}.def")
  set(lib "${dir}/lib${name}_delay.a")
  execute_process(COMMAND "${KV_MINGW_NM}" -g --defined-only "${KV_IMPLIB_${name}}"
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kv_delay_import(${name}): cannot list ${KV_IMPLIB_${name}}")
  endif()
  # Functions carry a thunk ("T name") beside their import slot ("I __imp_name").
  string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@?$]+" thunks "${symbols}")
  set(exports "")
  foreach(line IN LISTS thunks)
    string(REGEX REPLACE "^[0-9a-f]+ T " "" fn "${line}")
    string(APPEND exports "  ${fn}\n")
  endforeach()
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${def}" "LIBRARY ${name}.dll\nEXPORTS\n${exports}")
  execute_process(COMMAND "${KV_MINGW_DLLTOOL}" --input-def "${def}" --output-delaylib "${lib}"
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kv_delay_import(${name}): dlltool failed: ${err}")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${lib}")
endfunction()

# Every system DLL the program uses that is not a KnownDLL.
foreach(dll bcrypt crypt32 secur32 winhttp winmm comctl32)
  kv_delay_import(${dll})
endforeach()
