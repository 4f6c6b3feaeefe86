# The shipped x86-64 code must run on any x86-64: no FMA, AVX or
# SSE3/SSSE3/SSE4 instruction in the disassembly of FILES (comma-separated).
# It must also hold the four-lane walk's prefetches.
set(beyond "\t(v[a-z0-9]+|round(ss|sd|ps|pd)|dpp[sd]|blendv?p[sd]|pblend[a-z]*|ptest|pmulld|pmin[su][bdw]|pmax[su][bdw]|pextr[bdq]|pinsr[bdq]|insertps|extractps|pmov[sz]x[a-z]*|packusdw|pcmp[a-z]*q|pshufb|palignr|pabs[bdw]|phadd[a-z]*|phsub[a-z]*|pmaddubsw|pmulhrsw|psign[bdw]|h(add|sub)p[sd]|addsubp[sd]|movddup|movs[hl]dup|lddqu|popcnt|lzcnt|tzcnt|crc32) |%[yz]mm")
string(REPLACE "," ";" files "${FILES}")
foreach(file IN LISTS files)
  execute_process(COMMAND objdump -d --no-show-raw-insn ${file}
    RESULT_VARIABLE result OUTPUT_VARIABLE listing)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${file}")
  endif()
  string(REGEX MATCHALL "${beyond}" found "${listing}")
  if(found)
    message(FATAL_ERROR "instructions beyond the x86-64 baseline in ${file}:\n${found}")
  endif()
  # The listing must be real code: the SSE single-precision arithmetic is there.
  if(NOT listing MATCHES "\tmulss ")
    message(FATAL_ERROR "no mulss in ${file}: disassembly not understood")
  endif()
  # The four-lane walk is in it, with the prefetches it asks for.
  if(NOT listing MATCHES "\tprefetcht0 ")
    message(FATAL_ERROR "no prefetcht0 in ${file}: the four-lane walk or its prefetches are missing")
  endif()
  message(STATUS "${file}: x86-64 baseline instructions only")
endforeach()
