# Dependencies cross-built by scripts/setup.sh into ${KV_DEPS}.
if(NOT KV_DEPS OR NOT EXISTS "${KV_DEPS}/curl/lib/libcurl.a")
  message(FATAL_ERROR "Dependencies not found in '${KV_DEPS}': run scripts/setup.sh first")
endif()

add_library(kv::curl STATIC IMPORTED GLOBAL)
set_target_properties(kv::curl PROPERTIES
  IMPORTED_LOCATION "${KV_DEPS}/curl/lib/libcurl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_DEPS}/curl/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;wldap32;crypt32;bcrypt;advapi32")
set(KV_CURL_EXE "${KV_DEPS}/curl/bin/curl.exe" CACHE FILEPATH "curl.exe cross-built from the same libcurl")

add_library(kv::pugixml STATIC IMPORTED GLOBAL)
set_target_properties(kv::pugixml PROPERTIES
  IMPORTED_LOCATION "${KV_DEPS}/pugixml/lib/libpugixml.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_DEPS}/pugixml/include"
  INTERFACE_COMPILE_DEFINITIONS PUGIXML_WCHAR_MODE)

add_library(kv::gtest STATIC IMPORTED GLOBAL)
set_target_properties(kv::gtest PROPERTIES
  IMPORTED_LOCATION "${KV_DEPS}/googletest/lib/libgtest.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_DEPS}/googletest/include")
add_library(kv::gmock STATIC IMPORTED GLOBAL)
set_target_properties(kv::gmock PROPERTIES
  IMPORTED_LOCATION "${KV_DEPS}/googletest/lib/libgmock.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KV_DEPS}/googletest/include"
  INTERFACE_LINK_LIBRARIES kv::gtest)
