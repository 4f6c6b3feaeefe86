# Checks a macOS bundle's Mach-O properties from llvm-objdump's and
# llvm-nm's own dumps: header, load commands, needed libraries, exports,
# binds and symbol scopes. Every failed check is reported, then the script
# fails. ARCH is the bundle's architecture: x86_64 (the Intel bundle,
# macOS 10.9, unsigned) or arm64 (macOS 11.0, signed by the linker).
set(failures 0)
if(ARCH STREQUAL "x86_64")
  set(cpu X86_64)
  # ld64.lld writes the old form of the command for targets this old.
  set(version_command "cmd LC_VERSION_MIN_MACOSX\n +cmdsize 16\n +version 10\\.9\n +sdk 10\\.10\n")
  set(version_what "LC_VERSION_MIN_MACOSX with version 10.9 and sdk 10.10")
  set(signed FALSE)
  # floor and floorf are calls into libSystem.
  set(system_functions _floor _floorf ___stack_chk_fail)
elseif(ARCH STREQUAL "arm64")
  set(cpu ARM64)
  set(version_command "cmd LC_BUILD_VERSION\n +cmdsize [0-9]+\n +platform macos\n +sdk 11\\.0\n +minos 11\\.0\n")
  set(version_what "LC_BUILD_VERSION for macos with minos 11.0 and sdk 11.0")
  set(signed TRUE)
  # floor and floorf are single instructions (frintm) on arm64.
  set(system_functions ___stack_chk_fail)
else()
  message(FATAL_ERROR "check_bundle.cmake needs -DARCH=x86_64 or -DARCH=arm64")
endif()
# check("<if() condition>" "<what is wrong>"): the condition is given as
# text and evaluated here, so that its words stay separate arguments.
macro(check condition what)
  cmake_language(EVAL CODE "if(${condition})\nset(passed TRUE)\nelse()\nset(passed FALSE)\nendif()")
  if(NOT passed)
    message(SEND_ERROR "${what}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

function(dump out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Number of matches of regex in text.
function(count_matches out regex text)
  string(REGEX MATCHALL "${regex}" found "${text}")
  list(LENGTH found n)
  set(${out} ${n} PARENT_SCOPE)
endfunction()

dump(headers ${OBJDUMP} --macho --private-headers ${BUNDLE})
dump(trie ${OBJDUMP} --macho --exports-trie ${BUNDLE})
dump(binds ${OBJDUMP} --macho --bind ${BUNDLE})
dump(lazy ${OBJDUMP} --macho --lazy-bind ${BUNDLE})
dump(symbols ${NM} -m ${BUNDLE})

# A 64-bit bundle for the architecture, linked for dyld with a two-level
# namespace.
check("headers MATCHES \"MH_MAGIC_64 +${cpu} +ALL +0x00 +BUNDLE +[0-9]+ +[0-9]+ +[^\n]*TWOLEVEL\""
      "not a two-level-namespace ${ARCH} bundle")

# The minimum system, in one platform version command.
count_matches(n "${version_command}" "${headers}")
check("n EQUAL 1" "no ${version_what}")
count_matches(n "cmd LC_(BUILD_VERSION|VERSION_MIN_[A-Z]+)\n" "${headers}")
check("n EQUAL 1" "other platform version commands than the ${version_what}")
count_matches(n "cmd LC_UUID\n +cmdsize 24\n +uuid [0-9A-F-]+\n" "${headers}")
check("n EQUAL 1" "no LC_UUID")
foreach(absent LC_RPATH LC_DYLD_CHAINED_FIXUPS LC_DYLD_EXPORTS_TRIE LC_MAIN)
  check("NOT headers MATCHES \"cmd ${absent}\n\"" "the bundle has ${absent}")
endforeach()
# The code signature, where there is one, is the last load command and the
# last thing in the file (macho_signature checks its contents).
if(signed)
  file(SIZE "${BUNDLE}" size)
  string(REGEX MATCH "Load command [0-9]+\n +cmd LC_CODE_SIGNATURE\n +cmdsize 16\n +dataoff ([0-9]+)\n +datasize ([0-9]+)\n$"
         signature "${headers}")
  set(signature_end -1)
  if(signature)
    math(EXPR signature_end "${CMAKE_MATCH_1} + ${CMAKE_MATCH_2}")
  endif()
  check("signature AND signature_end EQUAL size"
        "LC_CODE_SIGNATURE is not the last load command, or its data does not end the file")
else()
  check("NOT headers MATCHES \"cmd LC_CODE_SIGNATURE\n\"" "the bundle has LC_CODE_SIGNATURE")
endif()
# Lazy binding through stubs and the stub helper, from the dyld info.
check("headers MATCHES \"cmd LC_DYLD_INFO_ONLY\n\"" "no LC_DYLD_INFO_ONLY")
check("headers MATCHES \"sectname __stub_helper\n\"" "no __stub_helper section")
check("headers MATCHES \"type S_LAZY_SYMBOL_POINTERS\n\"" "no lazy symbol pointers")
# Nothing runs at load or unload.
check("NOT headers MATCHES \"S_MOD_INIT_FUNC_POINTERS|S_MOD_TERM_FUNC_POINTERS|S_INIT_FUNC_OFFSETS\""
      "the bundle has an initialiser or finaliser section")

# The needed libraries, in this order, with these versions, and no others.
set(expected_libraries
  "@rpath/libmx.dylib 0.0.0 0.0.0"
  "@rpath/libmex.dylib 0.0.0 0.0.0"
  "/usr/lib/libc++.1.dylib 120.0.0 1.0.0"
  "/usr/lib/libSystem.B.dylib 1213.0.0 1.0.0")
string(REGEX MATCHALL "cmd LC_[A-Z_]*DYLIB\n[^\n]*\n +name [^ ]+ \\(offset [0-9]+\\)\n[^\n]*\n +current version [0-9.]+\ncompatibility version [0-9.]+\n"
       commands "${headers}")
set(libraries "")
foreach(command IN LISTS commands)
  string(REGEX REPLACE "cmd ([A-Z_]+)\n[^\n]*\n +name ([^ ]+) .*current version ([0-9.]+)\ncompatibility version ([0-9.]+)\n"
         "\\1 \\2 \\3 \\4" library "${command}")
  list(APPEND libraries "${library}")
endforeach()
list(TRANSFORM expected_libraries PREPEND "LC_LOAD_DYLIB ")
check("libraries STREQUAL expected_libraries"
      "needed libraries are\n  ${libraries}\nnot\n  ${expected_libraries}")
count_matches(n "cmd LC_[A-Z_]*DYLIB[A-Z_]*\n" "${headers}")
check("n EQUAL 4" "${n} library commands, not 4")

# Exactly the two exports.
string(REGEX MATCHALL "\n0x[0-9A-Fa-f]+ +[^\n]+" exports "${trie}")
list(TRANSFORM exports REPLACE "^\n0x[0-9A-Fa-f]+ +" "")
list(SORT exports)
check("exports STREQUAL \"_mexFunction;_mexfilerequiredapiversion\""
      "exports are ${exports}")

# Every import, each from its own library. Data (the stack guard) and the
# stub binder are bound at load; every function lazily.
set(host_functions _mxIsNumeric _mxIsUint8 _mxIsDouble _mxIsComplex _mxIsSparse
    _mxGetNumberOfDimensions_730 _mxGetDimensions_730 _mxGetM _mxGetN _mxGetPr _mxGetData
    _mxCreateDoubleMatrix_730)
set(expected_lazy "")
foreach(name IN LISTS host_functions)
  list(APPEND expected_lazy "libmx ${name}")
endforeach()
list(APPEND expected_lazy "libmex _mexErrMsgTxt")
foreach(name IN LISTS system_functions)
  list(APPEND expected_lazy "libSystem ${name}")
endforeach()
list(SORT expected_lazy)

function(bound_pairs out section text)
  string(REGEX MATCHALL "__DATA(_CONST)? +${section} +0x[0-9a-f]+ [^\n]+" rows "${text}")
  set(pairs "")
  foreach(row IN LISTS rows)
    # The last two columns: library and symbol.
    string(REGEX REPLACE ".* ([^ ]+) +([^ ]+)$" "\\1 \\2" pair "${row}")
    list(APPEND pairs "${pair}")
  endforeach()
  list(SORT pairs)
  set(${out} "${pairs}" PARENT_SCOPE)
endfunction()
bound_pairs(lazy_pairs __la_symbol_ptr "${lazy}")
check("lazy_pairs STREQUAL expected_lazy" "lazy binds are\n  ${lazy_pairs}\nnot\n  ${expected_lazy}")
string(REGEX MATCHALL "\n__DATA(_CONST)? [^\n]+" bind_rows "${binds}")
bound_pairs(bind_pairs "[_a-z]+" "${binds}")
list(LENGTH bind_rows n)
check("n EQUAL 2 AND bind_pairs STREQUAL \"libSystem ___stack_chk_guard;libSystem dyld_stub_binder\""
      "non-lazy binds are ${bind_pairs}")

# Symbol scopes: the two exports are the only external definitions; hist2
# was a private external (hidden from other images), the table and the
# sampler are local; every import records its library.
count_matches(n "\n[0-9a-f]+ \\([^)]+\\) external " "\n${symbols}")
check("n EQUAL 2" "${n} external definitions, not 2")
check("symbols MATCHES \"[(]__TEXT,__text[)] external _mexFunction\n\""
      "_mexFunction is not an external definition")
check("symbols MATCHES \"[(]__TEXT,__text[)] external _mexfilerequiredapiversion\n\""
      "_mexfilerequiredapiversion is not an external definition")
check("symbols MATCHES \"[(]__TEXT,__text[)] non-external [(]was a private external[)] _hist2\n\""
      "_hist2 is not a private external")
check("symbols MATCHES \"[(]__TEXT,__const[)] non-external [_A-Za-z0-9]*ran\n\""
      "the jitter table is not a local symbol")
check("symbols MATCHES \"[(]__TEXT,__text[)] non-external [_A-Za-z0-9]*samp[_A-Za-z0-9]*\n\""
      "the sampler is not a local function")
string(REGEX MATCHALL "[^\n]*(samp|ran)[^\n]*" core_locals "${symbols}")
foreach(line IN LISTS core_locals)
  check("line MATCHES \" non-external \"" "not local: ${line}")
endforeach()
count_matches(n "\\(undefined\\) external [^ \n]+\n" "${symbols}")
check("n EQUAL 0" "${n} imports without a library (flat namespace)")
# The host functions and libSystem's: the functions, the stack guard and
# the stub binder.
list(LENGTH host_functions n_host)
list(LENGTH system_functions n_system)
math(EXPR n_imports "${n_host} + 1 + ${n_system} + 2")
count_matches(n "\\(undefined\\) external [^ \n]+ \\(from lib[a-zA-Z+]+\\)\n" "${symbols}")
check("n EQUAL n_imports" "${n} imports, not ${n_imports}")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} checks failed")
endif()
message(STATUS "all checks passed")
