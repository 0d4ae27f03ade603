# Dependencies cross-built by scripts/setup.sh: ${KV_DEPS}/<name> leads to each
# build (a link into the shared cache). The real paths go into the build, so a
# dependency rebuilt under a new cache key relinks every program.
foreach(dep curl pugixml zlib googletest)
  if(NOT KV_DEPS OR NOT EXISTS "${KV_DEPS}/${dep}/.done")
    message(FATAL_ERROR "Dependency ${dep} not found in '${KV_DEPS}': run scripts/setup.sh first")
  endif()
endforeach()
file(REAL_PATH "${KV_DEPS}/curl" KV_CURL_DIR)
file(REAL_PATH "${KV_DEPS}/pugixml" KV_PUGIXML_DIR)
file(REAL_PATH "${KV_DEPS}/zlib" KV_ZLIB_DIR)
file(REAL_PATH "${KV_DEPS}/googletest" KV_GTEST_DIR)

add_library(kv::curl STATIC IMPORTED GLOBAL)
set_target_properties(kv::curl PROPERTIES
  IMPORTED_LOCATION "${KV_CURL_DIR}/lib/libcurl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_CURL_DIR}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;wldap32;kv_dll_secur32;kv_dll_crypt32;kv_dll_bcrypt;advapi32")
set(KV_CURL_EXE "${KV_DEPS}/curl/bin/curl.exe" CACHE FILEPATH "curl.exe cross-built from the same libcurl")

add_library(kv::pugixml STATIC IMPORTED GLOBAL)
set_target_properties(kv::pugixml PROPERTIES
  IMPORTED_LOCATION "${KV_PUGIXML_DIR}/lib/libpugixml.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_PUGIXML_DIR}/include"
  INTERFACE_COMPILE_DEFINITIONS "PUGIXML_WCHAR_MODE;PUGIXML_NO_XPATH;PUGIXML_NO_STL;PUGIXML_NO_EXCEPTIONS")

add_library(kv::zlib STATIC IMPORTED GLOBAL)
set_target_properties(kv::zlib PROPERTIES
  IMPORTED_LOCATION "${KV_ZLIB_DIR}/lib/libz.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_ZLIB_DIR}/include")

add_library(kv::gtest STATIC IMPORTED GLOBAL)
set_target_properties(kv::gtest PROPERTIES
  IMPORTED_LOCATION "${KV_GTEST_DIR}/lib/libgtest.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_GTEST_DIR}/include")
add_library(kv::gmock STATIC IMPORTED GLOBAL)
set_target_properties(kv::gmock PROPERTIES
  IMPORTED_LOCATION "${KV_GTEST_DIR}/lib/libgmock.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_GTEST_DIR}/include"
  INTERFACE_LINK_LIBRARIES kv::gtest)
