# Checks the macOS bundle's Mach-O properties from llvm-objdump's and
# llvm-nm's own dumps: header, load commands, needed libraries, exports,
# binds and symbol scopes. Every failed check is reported, then the script
# fails.
set(failures 0)
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

# A 64-bit x86-64 bundle, linked for dyld with a two-level namespace.
check("headers MATCHES \"MH_MAGIC_64 +X86_64 +ALL +0x00 +BUNDLE +[0-9]+ +[0-9]+ +[^\n]*TWOLEVEL\""
      "not a two-level-namespace x86-64 bundle")

# Minimum system 10.9, SDK 10.10, the old form of the command.
count_matches(n "cmd LC_VERSION_MIN_MACOSX\n +cmdsize 16\n +version 10\\.9\n +sdk 10\\.10\n" "${headers}")
check("n EQUAL 1" "no LC_VERSION_MIN_MACOSX with version 10.9 and sdk 10.10")
count_matches(n "cmd LC_(BUILD_VERSION|VERSION_MIN_[A-Z]+)\n" "${headers}")
check("n EQUAL 1" "other platform version commands than LC_VERSION_MIN_MACOSX")
count_matches(n "cmd LC_UUID\n +cmdsize 24\n +uuid [0-9A-F-]+\n" "${headers}")
check("n EQUAL 1" "no LC_UUID")
foreach(absent LC_CODE_SIGNATURE LC_RPATH LC_DYLD_CHAINED_FIXUPS LC_DYLD_EXPORTS_TRIE LC_MAIN)
  check("NOT headers MATCHES \"cmd ${absent}\n\"" "the bundle has ${absent}")
endforeach()
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
list(APPEND expected_lazy "libmex _mexErrMsgTxt" "libSystem _floor" "libSystem _floorf"
     "libSystem ___stack_chk_fail")
list(SORT expected_lazy)

function(bound_pairs out section text)
  string(REGEX MATCHALL "__DATA +${section} +0x[0-9a-f]+ [^\n]+" rows "${text}")
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
string(REGEX MATCHALL "\n__DATA [^\n]+" bind_rows "${binds}")
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
count_matches(n "\\(undefined\\) external [^ \n]+ \\(from lib[a-zA-Z+]+\\)\n" "${symbols}")
check("n EQUAL 18" "${n} imports, not 18")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} checks failed")
endif()
message(STATUS "all checks passed")
