# orvel_stamp_executable(<target> FILEVERSION <x> [PRODUCTVERSION <x>]
#   [PRODUCTNAME <x>] [COMPANYNAME <x>] [FILEDESCRIPTION <x>]
#   [INTERNALNAME <x>] [ORIGINALFILENAME <x>] [LEGALCOPYRIGHT <x>]
#   [COMMENTS <x>] [STRINGS Key=Value ...])
#
# After every link of <target>, puts a version block with these texts into
# its ELF section ".orvel_version", where the version reader finds it.
# Must be called in the directory that creates <target>; include this file
# before that directory when it is processed earlier than update/. Values
# are CMake strings: a ";" in one would split it, so it is refused.
function(orvel_stamp_executable target)
  set(one FILEVERSION PRODUCTVERSION PRODUCTNAME COMPANYNAME FILEDESCRIPTION
          INTERNALNAME ORIGINALFILENAME LEGALCOPYRIGHT COMMENTS)
  cmake_parse_arguments(S "" "${one}" "STRINGS" ${ARGN})
  if(S_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "orvel_stamp_executable(${target}): unexpected arguments ${S_UNPARSED_ARGUMENTS} (a value with \";\"?)")
  endif()
  if(NOT S_FILEVERSION)
    message(FATAL_ERROR "orvel_stamp_executable(${target}): FILEVERSION is required")
  endif()
  if(NOT CMAKE_OBJCOPY AND NOT WIN32)
    message(FATAL_ERROR "orvel_stamp_executable(${target}): no objcopy found")
  endif()
  set(pairs "FileVersion=${S_FILEVERSION}")
  foreach(pair
      "CompanyName=${S_COMPANYNAME}" "FileDescription=${S_FILEDESCRIPTION}"
      "InternalName=${S_INTERNALNAME}" "LegalCopyright=${S_LEGALCOPYRIGHT}"
      "OriginalFilename=${S_ORIGINALFILENAME}" "ProductName=${S_PRODUCTNAME}"
      "ProductVersion=${S_PRODUCTVERSION}" "Comments=${S_COMMENTS}")
    if(NOT pair MATCHES "=$")
      list(APPEND pairs "${pair}")
    endif()
  endforeach()
  list(APPEND pairs ${S_STRINGS})
  if(WIN32)
    # Windows programs carry the same texts as their VERSIONINFO resource.
    include(${CMAKE_SOURCE_DIR}/cmake/OrvelWinVersion.cmake)
    orvel_win_version_resource(${target} ${pairs})
    return()
  endif()
  set(block "${CMAKE_CURRENT_BINARY_DIR}/${target}.orvel_version.bin")
  add_dependencies(${target} orvel-stamp-version)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:orvel-stamp-version> ${block} ${pairs}
    COMMAND ${CMAKE_OBJCOPY} --remove-section .orvel_version $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-section .orvel_version=${block}
            --set-section-flags .orvel_version=readonly $<TARGET_FILE:${target}>
    COMMENT "Stamping version ${S_FILEVERSION} into ${target}"
    VERBATIM)
endfunction()
