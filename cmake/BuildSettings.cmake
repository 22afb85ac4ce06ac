# Branded build settings: one build of the installer per distributor.
set(MORVANTIS_PACKAGE_CODE "602731" CACHE STRING "Package code of the distributor's build: six decimal digits (string 103)")
set(MORVANTIS_DISTRIBUTOR_CHS "Zelmora香港" CACHE STRING "Distributor name, Simplified Chinese (string 104)")
set(MORVANTIS_DISTRIBUTOR_CHT "Zelmora香港" CACHE STRING "Distributor name, Traditional Chinese (string 105)")
set(MORVANTIS_DISTRIBUTOR_ENU "Zelmora HK" CACHE STRING "Distributor name, English (string 106)")
set(MORVANTIS_FOLDER_PREFIX "" CACHE STRING "Optional prefix of the product folder name instead of MOrvantis (string 107); empty: not in the string table")
set(MORVANTIS_STORE_ENDPOINT "127.0.0.1:18093" CACHE STRING "Package store endpoint: host[:port], optionally with http:// or https://")
set(MORVANTIS_STORE_KEY_ID "DemoAccessKeyIdMorvant01" CACHE STRING "Package store access-key id")
set(MORVANTIS_STORE_KEY_SECRET "DemoSecretForTheLocalStore2026" CACHE STRING "Package store access-key secret")

if(NOT MORVANTIS_PACKAGE_CODE MATCHES "^[0-9][0-9][0-9][0-9][0-9][0-9]$")
  message(FATAL_ERROR "MORVANTIS_PACKAGE_CODE must be six decimal digits, not \"${MORVANTIS_PACKAGE_CODE}\"")
endif()
foreach(name MORVANTIS_DISTRIBUTOR_CHS MORVANTIS_DISTRIBUTOR_CHT MORVANTIS_DISTRIBUTOR_ENU MORVANTIS_FOLDER_PREFIX)
  string(LENGTH "${${name}}" len)
  if(len GREATER 120)
    message(FATAL_ERROR "${name} is too long for the installer's 260-byte name buffers")
  endif()
  if("${${name}}" MATCHES "[\"\\\\]")
    message(FATAL_ERROR "${name} must not contain quotes or backslashes")
  endif()
endforeach()
if("${MORVANTIS_FOLDER_PREFIX}" MATCHES "[/:*?<>|]")
  message(FATAL_ERROR "MORVANTIS_FOLDER_PREFIX must be usable in a folder name")
endif()
if(NOT MORVANTIS_STORE_ENDPOINT MATCHES "^(https?://)?[A-Za-z0-9.-]+(:[0-9]+)?/?$")
  message(FATAL_ERROR "MORVANTIS_STORE_ENDPOINT must be host[:port], optionally with http:// or https://, not \"${MORVANTIS_STORE_ENDPOINT}\"")
endif()

# Both key parts empty: a build without a key, for a public-read bucket; its requests go
# unsigned. Any key at all still has to follow the 54-character rule.
if(MORVANTIS_STORE_KEY_ID STREQUAL "" AND MORVANTIS_STORE_KEY_SECRET STREQUAL "")
  message(STATUS "No store key: the installer sends unsigned requests (public-read bucket)")
elseif(MORVANTIS_STORE_KEY_ID STREQUAL "" OR MORVANTIS_STORE_KEY_SECRET STREQUAL "")
  message(FATAL_ERROR "MORVANTIS_STORE_KEY_ID and MORVANTIS_STORE_KEY_SECRET: set both, or leave both empty for a public-read bucket")
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
# A seed derived from the credentials keeps the build reproducible without revealing them.
string(SHA256 credential_digest "${MORVANTIS_STORE_KEY_ID}:${MORVANTIS_STORE_KEY_SECRET}")
string(SUBSTRING "${credential_digest}" 0 7 credential_seed_hex)
math(EXPR credential_seed "0x${credential_seed_hex}")
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/../tools/scramble_credentials.py
          "${MORVANTIS_STORE_KEY_ID}" "${MORVANTIS_STORE_KEY_SECRET}" ${credential_seed}
  OUTPUT_VARIABLE credential_header
  ERROR_VARIABLE credential_error
  RESULT_VARIABLE credential_result)
if(NOT credential_result EQUAL 0)
  message(FATAL_ERROR "MORVANTIS_STORE_KEY_ID / MORVANTIS_STORE_KEY_SECRET: ${credential_error}")
endif()

set(MORVANTIS_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${MORVANTIS_GENERATED_DIR})
file(WRITE ${MORVANTIS_GENERATED_DIR}/credential_store.h.new "${credential_header}")
configure_file(${MORVANTIS_GENERATED_DIR}/credential_store.h.new ${MORVANTIS_GENERATED_DIR}/credential_store.h COPYONLY)

if(MORVANTIS_FOLDER_PREFIX STREQUAL "")
  set(MORVANTIS_STRING_107 "")
else()
  set(MORVANTIS_STRING_107 "  107, \"${MORVANTIS_FOLDER_PREFIX}\"")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/../res/strings.rc.in ${MORVANTIS_GENERATED_DIR}/strings.rc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../res/build_settings.h.in ${MORVANTIS_GENERATED_DIR}/build_settings.h @ONLY)

# Signed releases: the build's public key (PEM, ECDSA P-256) is compiled in, and the
# installer then runs only what the key's owner listed and signed.
set(MORVANTIS_RELEASE_KEY "" CACHE FILEPATH "ECDSA P-256 public key (PEM, as openssl ec -pubout writes it) releases are signed with; empty: unsigned releases")
option(MORVANTIS_ALLOW_UNSIGNED_HTTP "Allow an unsigned build to fetch releases over plain HTTP from a non-loopback endpoint" OFF)
set(MORVANTIS_DEMO_RELEASE_KEY ${CMAKE_CURRENT_LIST_DIR}/../tools/release-keys/DEMO-ONLY-release-public.pem)
string(REGEX REPLACE "^https?://" "" store_host "${MORVANTIS_STORE_ENDPOINT}")
string(REGEX REPLACE "/$" "" store_host "${store_host}")
string(REGEX REPLACE ":[0-9]+$" "" store_host "${store_host}")
string(TOLOWER "${store_host}" store_host)
set(store_is_loopback OFF)
if(store_host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR store_host STREQUAL "localhost" OR store_host MATCHES "^\\[?::1\\]?$")
  set(store_is_loopback ON)
endif()
set(release_key_bytes "")
if(NOT MORVANTIS_RELEASE_KEY STREQUAL "")
  execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/../tools/release_public_key.py "${MORVANTIS_RELEASE_KEY}"
                  OUTPUT_VARIABLE release_key_point ERROR_VARIABLE release_key_error RESULT_VARIABLE release_key_result)
  if(NOT release_key_result EQUAL 0)
    message(FATAL_ERROR "MORVANTIS_RELEASE_KEY must be an ECDSA P-256 public key in PEM as openssl ec -pubout writes it: ${release_key_error}")
  endif()
  execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/../tools/release_public_key.py "${MORVANTIS_DEMO_RELEASE_KEY}"
                  OUTPUT_VARIABLE demo_key_point)
  if(release_key_point STREQUAL demo_key_point AND NOT store_is_loopback)
    message(FATAL_ERROR "MORVANTIS_RELEASE_KEY is the demonstration key, whose private half is public: it serves only a loopback store, not \"${MORVANTIS_STORE_ENDPOINT}\"")
  endif()
  string(REGEX REPLACE "(..)" "0x\\1," release_key_bytes "${release_key_point}")
elseif(NOT MORVANTIS_STORE_ENDPOINT MATCHES "^https://" AND NOT store_is_loopback AND NOT MORVANTIS_ALLOW_UNSIGNED_HTTP)
  message(FATAL_ERROR "MORVANTIS_STORE_ENDPOINT \"${MORVANTIS_STORE_ENDPOINT}\" is plain HTTP: anyone on the way could replace the packages. Give MORVANTIS_RELEASE_KEY (signed releases), an https:// endpoint, or -DMORVANTIS_ALLOW_UNSIGNED_HTTP=ON to accept that risk")
endif()
file(WRITE ${MORVANTIS_GENERATED_DIR}/release_key.h.new
  "// Generated from MORVANTIS_RELEASE_KEY: X || Y of the P-256 key releases are signed with; empty: unsigned.\n#pragma once\n#define MORVANTIS_RELEASE_KEY_BYTES ${release_key_bytes}\n")
configure_file(${MORVANTIS_GENERATED_DIR}/release_key.h.new ${MORVANTIS_GENERATED_DIR}/release_key.h COPYONLY)
