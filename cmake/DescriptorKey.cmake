# KV_DESCRIPTOR_PUBKEY: path to a PEM public key (ECDSA P-256). When set, the
# key's public point is built into the program and the update descriptor must
# carry a valid signature ("kvinstall.txt.sig"). Empty: no signature is checked.
set(KV_DESCRIPTOR_PUBKEY "" CACHE FILEPATH "PEM public key (ECDSA P-256) that signs the update descriptor; empty = unsigned")
option(KV_ALLOW_UNSIGNED_DESCRIPTOR
       "Allow a build that reaches real servers (KV_LOOPBACK_ONLY=OFF) without KV_DESCRIPTOR_PUBKEY" OFF)

# kv_require_descriptor_key(): a build that can reach real servers runs what
# the network names with administrator rights, so it must check signatures;
# without a key the configure fails unless KV_ALLOW_UNSIGNED_DESCRIPTOR is on.
function(kv_require_descriptor_key)
  if(NOT KV_LOOPBACK_ONLY AND NOT KV_DESCRIPTOR_PUBKEY AND NOT KV_ALLOW_UNSIGNED_DESCRIPTOR)
    message(FATAL_ERROR
      "KV_LOOPBACK_ONLY=OFF without KV_DESCRIPTOR_PUBKEY: this installer would run, with administrator "
      "rights, whatever an unsigned descriptor names. Give the descriptor key "
      "(-DKV_DESCRIPTOR_PUBKEY=/path/to/public.pem, see scripts/descriptor-sign.sh), or pass "
      "-DKV_ALLOW_UNSIGNED_DESCRIPTOR=ON to build an unsigned installer on purpose.")
  endif()
endfunction()

# kv_descriptor_key_header(<output header>): writes KV_HAS_DESCRIPTOR_KEY and,
# with a key, KV_DESCRIPTOR_KEY_BYTES (the 64 bytes X || Y as C initialisers).
# A file that is not a P-256 public key fails the configure.
function(kv_descriptor_key_header output)
  set(KV_HAS_DESCRIPTOR_KEY 0)
  set(KV_DESCRIPTOR_KEY_BYTES "")
  if(KV_DESCRIPTOR_PUBKEY)
    find_program(KV_OPENSSL openssl REQUIRED)
    # A changed key file configures again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KV_DESCRIPTOR_PUBKEY}")
    set(der "${CMAKE_CURRENT_BINARY_DIR}/descriptor-key.der")
    execute_process(
      COMMAND "${KV_OPENSSL}" pkey -pubin -in "${KV_DESCRIPTOR_PUBKEY}" -outform DER -out "${der}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "KV_DESCRIPTOR_PUBKEY: '${KV_DESCRIPTOR_PUBKEY}' is not a PEM public key: ${err}")
    endif()
    file(READ "${der}" hex HEX)
    # SubjectPublicKeyInfo of id-ecPublicKey on prime256v1, then the
    # uncompressed point 04 || X || Y: 91 bytes in all.
    set(prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
    string(LENGTH "${hex}" hexLength)
    string(SUBSTRING "${hex}" 0 54 head)
    if(NOT hexLength EQUAL 182 OR NOT head STREQUAL prefix)
      message(FATAL_ERROR "KV_DESCRIPTOR_PUBKEY: '${KV_DESCRIPTOR_PUBKEY}' is not an ECDSA P-256 public key")
    endif()
    string(SUBSTRING "${hex}" 54 128 point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${point}")
    set(KV_HAS_DESCRIPTOR_KEY 1)
    set(KV_DESCRIPTOR_KEY_BYTES "${bytes}")
  endif()
  file(CONFIGURE OUTPUT "${output}" CONTENT [=[
#pragma once
// Generated at configure time from KV_DESCRIPTOR_PUBKEY.
#define KV_HAS_DESCRIPTOR_KEY @KV_HAS_DESCRIPTOR_KEY@
#define KV_DESCRIPTOR_KEY_BYTES @KV_DESCRIPTOR_KEY_BYTES@
]=] @ONLY)
endfunction()
