# Reads scripts/lib/endpoints.conf (where the servers of the local test
# environment listen) and generates generated/testendpoints.h for the tests
# and benchmarks: target orvel_testendpoints. Changing the file re-runs the
# configure step.
set(ORVEL_ENDPOINTS_FILE ${CMAKE_SOURCE_DIR}/scripts/lib/endpoints.conf)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORVEL_ENDPOINTS_FILE})

file(STRINGS ${ORVEL_ENDPOINTS_FILE} _ep_lines ENCODING UTF-8 REGEX "^[A-Z0-9_]+=")
foreach(_line IN LISTS _ep_lines)
  string(REGEX MATCH "^([A-Z0-9_]+)=(.*)$" _ignored "${_line}")
  set(EP_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
foreach(_key ENV_DIR HOST DB_PORT DB_OLD_PORT DB_NAME DB_USER DB_PASSWORD DB_RETRY_USER DB_RETRY_PASSWORD
             DB_ADMIN_USER DB_ADMIN_PASSWORD
             FTP_USER FTP_PASSWORD FTP_PORT FTP_PEER_PORT FTP_PEER_USER FTP_IDLE_PORT FTP_EMPTY_PORT
             FTP_CUT_PORT FTP_GARBAGE_PORT FTP_EVIL_PORT FTP_SILENT_PORT FTP_DOS949_PORT FTP_UNIX949_PORT
             HTTP_PORT HTTP_SILENT_PORT UPDATE_PATH CLOSED_PORT BENCH_LIST_PORT BENCH_DOWNLOAD_PORT BENCH_LIST_ONLY_PORT
             FTP_STALL_RETR_PORT FTP_STALL_LIST_PORT DB_CUT_LOGIN_PORT DB_CUT_LOGIN_ONCE_PORT DB_CUT_ADMIT_PORT
             DB_CUT_ADMIT_ONCE_PORT HTTP_STALL_PORT HTTP_STALL_REPLACER_PORT
             DB_TLS_PORT DB_TLS_EXPIRED_PORT FTP_TLS_PORT FTP_TLS_EXPIRED_PORT HTTPS_PORT HTTPS_EXPIRED_PORT
             HTTPS_DOWNGRADE_PORT)
  if(NOT DEFINED EP_${_key} OR "${EP_${_key}}" STREQUAL "" OR "${EP_${_key}}" MATCHES "[\"\\ ]")
    message(FATAL_ERROR "${ORVEL_ENDPOINTS_FILE}: ${_key} is missing, empty, or holds a quote, backslash or blank")
  endif()
  if(_key MATCHES "_PORT$" AND NOT "${EP_${_key}}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${ORVEL_ENDPOINTS_FILE}: ${_key}=${EP_${_key}} is not a port number")
  endif()
endforeach()
if(EP_HTTP_PORT STREQUAL "80")
  set(EP_HTTP_BASE "http://${EP_HOST}")
else()
  set(EP_HTTP_BASE "http://${EP_HOST}:${EP_HTTP_PORT}")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/testendpoints.h.in ${CMAKE_BINARY_DIR}/generated/testendpoints.h @ONLY)
add_library(orvel_testendpoints INTERFACE)
target_include_directories(orvel_testendpoints INTERFACE ${CMAKE_BINARY_DIR}/generated)
