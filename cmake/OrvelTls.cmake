# TLS build settings, one per server. Each is
#   OFF          plain connections, as the servers offer today (the default)
#   ca:FILE      TLS required; the server's chain must end in a certificate of
#                FILE (PEM), which is compiled into the program
#   pin:VALUE    TLS required; the server must show exactly this (database:
#                the certificate's SHA-1 fingerprint, 40 hex digits, the form
#                the database client library compares; FTP and update
#                server: its public key as sha256//BASE64)
#   system       TLS required, checked against the system's certificate store
#                (FTP and update server only)
# Generates generated/tlsconfig.h. The trust is compiled in: nothing in the
# program folder or the user's profile decides whom the program believes.
set(ORVEL_DB_TLS "OFF" CACHE STRING "Database TLS: OFF, ca:FILE or pin:SHA1-HEX (docs/tls.md)")
set(ORVEL_FTP_TLS "OFF" CACHE STRING "FTP TLS: OFF, ca:FILE, pin:sha256//BASE64 or system (docs/tls.md)")
set(ORVEL_UPDATE_TLS "OFF" CACHE STRING "Update server over https: OFF, ca:FILE, pin:sha256//BASE64 or system (docs/tls.md)")

# orvel_tls_setting(PREFIX VALUE ALLOW_SYSTEM): sets PREFIX_REQUIRED, PREFIX_CA
# (the file's text), PREFIX_PIN, PREFIX_SYSTEM for tlsconfig.h.in.
function(orvel_tls_setting prefix value allow_system)
  set(required false)
  set(ca "")
  set(pin "")
  set(system false)
  string(TOUPPER "${value}" upper)
  if(upper STREQUAL "OFF" OR upper STREQUAL "")
  elseif(value MATCHES "^ca:(.+)$")
    set(file "${CMAKE_MATCH_1}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${prefix}: no CA file '${file}'")
    endif()
    file(READ "${file}" ca)
    if(NOT ca MATCHES "-----BEGIN CERTIFICATE-----")
      message(FATAL_ERROR "${prefix}: '${file}' holds no PEM certificate")
    endif()
    if(ca MATCHES "\\)pem\"")
      message(FATAL_ERROR "${prefix}: '${file}' is not a plain PEM file")
    endif()
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    set(required true)
  elseif(value MATCHES "^pin:(.+)$")
    set(pin "${CMAKE_MATCH_1}")
    if(NOT pin MATCHES "^([0-9a-fA-F]+|sha256//[A-Za-z0-9+/=;]+)$")
      message(FATAL_ERROR "${prefix}: pin '${pin}' is neither hex nor sha256//BASE64")
    endif()
    set(required true)
  elseif(upper STREQUAL "SYSTEM" AND allow_system)
    set(system true)
    set(required true)
  else()
    message(FATAL_ERROR "${prefix}='${value}': expected OFF, ca:FILE, pin:VALUE${allow_system}")
  endif()
  set(${prefix}_REQUIRED ${required} PARENT_SCOPE)
  set(${prefix}_CA "${ca}" PARENT_SCOPE)
  set(${prefix}_PIN "${pin}" PARENT_SCOPE)
  set(${prefix}_SYSTEM ${system} PARENT_SCOPE)
endfunction()

orvel_tls_setting(TLS_DB "${ORVEL_DB_TLS}" FALSE)
if(TLS_DB_PIN AND NOT TLS_DB_PIN MATCHES "^[0-9a-fA-F]+$")
  message(FATAL_ERROR "ORVEL_DB_TLS: the database pins the certificate's SHA-1 fingerprint (40 hex digits)")
endif()
string(LENGTH "${TLS_DB_PIN}" _db_pin_length)
if(TLS_DB_PIN AND NOT _db_pin_length EQUAL 40)
  message(FATAL_ERROR "ORVEL_DB_TLS: the database pins the certificate's SHA-1 fingerprint (40 hex digits)")
endif()
orvel_tls_setting(TLS_FTP "${ORVEL_FTP_TLS}" TRUE)
orvel_tls_setting(TLS_UPDATE "${ORVEL_UPDATE_TLS}" TRUE)
if(TLS_FTP_PIN MATCHES "^[0-9a-fA-F]+$" OR TLS_UPDATE_PIN MATCHES "^[0-9a-fA-F]+$")
  message(FATAL_ERROR "ORVEL_FTP_TLS / ORVEL_UPDATE_TLS pin the public key: pin:sha256//BASE64")
endif()

configure_file(${PROJECT_SOURCE_DIR}/core/tlsconfig.h.in ${CMAKE_BINARY_DIR}/generated/tlsconfig.h @ONLY)
