# The host API's functions, read from hostapi/mex.h: that header is the one
# description of the API in the tree, and the link stand-ins and the test
# loader's binding table are made from it here rather than listed again.
#
# vorn_hostapi_functions(<prefix>) sets
#   <prefix>_MX      the libmx functions, by their C names
#   <prefix>_MEX     the libmex functions (the entry point is not one of them)
#   <prefix>_BOUND_<name>  the name under which Windows and macOS hosts export
#                    <name>: its 7.3 variant (suffix _730) where mex.h renames
#                    it, otherwise <name> itself.
function(vorn_hostapi_functions prefix)
  set(header "${CMAKE_SOURCE_DIR}/hostapi/mex.h")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${header}")
  file(READ "${header}" text)

  # The declarations come in two groups, each opened by a comment naming
  # its library; the entry point's comment closes the second.
  string(FIND "${text}" "/* libmx */" mx_at)
  string(FIND "${text}" "/* libmex" mex_at)
  string(FIND "${text}" "/* The plug-in's entry point" entry_at)
  if(mx_at EQUAL -1 OR mex_at EQUAL -1 OR entry_at EQUAL -1 OR
     NOT mx_at LESS mex_at OR NOT mex_at LESS entry_at)
    message(FATAL_ERROR "${header}: the libmx, libmex and entry point groups were not found in that order")
  endif()
  math(EXPR mx_len "${mex_at} - ${mx_at}")
  math(EXPR mex_len "${entry_at} - ${mex_at}")
  string(SUBSTRING "${text}" ${mx_at} ${mx_len} mx_part)
  string(SUBSTRING "${text}" ${mex_at} ${mex_len} mex_part)

  foreach(group MX MEX)
    string(TOLOWER "${group}" lower)
    # A semicolon would split a CMake list: each declaration is matched up to
    # its closing parenthesis only.
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\([^;()]*\\)" decls "${${lower}_part}")
    set(names "")
    foreach(decl IN LISTS decls)
      string(REGEX REPLACE "\\(.*" "" name "${decl}")
      list(APPEND names "${name}")
    endforeach()
    if(NOT names)
      message(FATAL_ERROR "${header}: no ${lower} functions found")
    endif()
    set(${prefix}_${group} "${names}" PARENT_SCOPE)
    foreach(name IN LISTS names)
      set(${prefix}_BOUND_${name} "${name}" PARENT_SCOPE)
    endforeach()
  endforeach()

  string(REGEX MATCHALL "#define +[A-Za-z_0-9]+ +[A-Za-z_0-9]+_730" renames "${text}")
  foreach(rename IN LISTS renames)
    string(REGEX REPLACE "#define +([A-Za-z_0-9]+) +([A-Za-z_0-9]+)" "\\1;\\2" pair "${rename}")
    list(GET pair 0 name)
    list(GET pair 1 bound)
    set(${prefix}_BOUND_${name} "${bound}" PARENT_SCOPE)
  endforeach()
endfunction()

# vorn_host_imports_header(<file>) writes <file>: one line
#   HOST_FUNCTION("libmx" or "libmex", name the plug-in imports, C name)
# per host function, for the test loaders' binding tables.
function(vorn_host_imports_header file)
  vorn_hostapi_functions(api)
  set(HOST_FUNCTIONS "")
  foreach(group MX MEX)
    string(TOLOWER "lib${group}" library)
    foreach(name IN LISTS api_${group})
      string(APPEND HOST_FUNCTIONS "HOST_FUNCTION(\"${library}\", \"${api_BOUND_${name}}\", ${name})\n")
    endforeach()
  endforeach()
  configure_file("${CMAKE_SOURCE_DIR}/tests/host/host_imports.h.in" "${file}" @ONLY)
endfunction()
