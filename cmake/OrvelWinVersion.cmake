# orvel_win_version_resource(<target> <pairs>...)
#
# The Windows form of orvel_stamp_executable: the same Key=Value texts, in the
# same order, become the program's VERSIONINFO resource (string table
# "041204B0", Korean, UTF-16), which GetFileVersionInfo reads. The numeric
# file and product versions come from the FileVersion and ProductVersion
# texts as in the ELF block: up to four numbers, anything else counts 0.
function(_orvel_win_version_numbers text out)
  string(REPLACE "," "." text "${text}")
  string(REPLACE "." ";" parts "${text}.")
  set(nums "")
  foreach(p IN LISTS parts)
    list(LENGTH nums n)
    if(n EQUAL 4)
      break()
    endif()
    string(REGEX REPLACE "[^0-9]" "" digits "${p}")
    if(digits STREQUAL "")
      set(digits 0)
    endif()
    math(EXPR v "${digits}")
    if(v GREATER 65535)
      set(v 65535)
    endif()
    list(APPEND nums ${v})
  endforeach()
  list(LENGTH nums n)
  while(n LESS 4)
    list(APPEND nums 0)
    math(EXPR n "${n} + 1")
  endwhile()
  list(JOIN nums "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

function(orvel_win_version_resource target)
  set(file_version "")
  set(product_version "")
  set(values "")
  foreach(pair IN LISTS ARGN)
    string(FIND "${pair}" "=" eq)
    string(SUBSTRING "${pair}" 0 ${eq} key)
    math(EXPR from "${eq} + 1")
    string(SUBSTRING "${pair}" ${from} -1 value)
    if(key STREQUAL "FileVersion")
      set(file_version "${value}")
    elseif(key STREQUAL "ProductVersion")
      set(product_version "${value}")
    elseif(key STREQUAL "OriginalFilename" AND NOT value MATCHES "\\.")
      # The name the file has on Windows.
      set(value "${value}${CMAKE_EXECUTABLE_SUFFIX}")
    endif()
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\"\"" value "${value}")
    string(APPEND values "      VALUE \"${key}\", \"${value}\"\n")
  endforeach()
  if(product_version STREQUAL "")
    set(product_version "${file_version}")
  endif()
  _orvel_win_version_numbers("${file_version}" file_nums)
  _orvel_win_version_numbers("${product_version}" product_nums)

  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc")
  file(GENERATE OUTPUT "${rc}" CONTENT "#pragma code_page(65001)
1 VERSIONINFO
FILEVERSION ${file_nums}
PRODUCTVERSION ${product_nums}
FILEFLAGSMASK 0x3F
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x1
FILESUBTYPE 0x0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"041204B0\"
    BEGIN
${values}    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x0412, 1200
  END
END
")
  target_sources(${target} PRIVATE "${rc}")
endfunction()
