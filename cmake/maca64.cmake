# The Apple silicon plug-in, vorn_hist2.mexmaca64: an arm64 bundle.
# Minimum system and SDK 11.0, the first with arm64, recorded in
# LC_BUILD_VERSION (one SHELL: group, or CMake would drop the repeated
# 11.0). macOS runs no unsigned arm64 code: ld64.lld signs arm64
# output itself (ad hoc, linker-signed, the file name as identifier), so
# the file is linked straight to its delivered name and nothing touches it
# afterwards, or its page hashes would no longer match.
set(VORN_MACHO_OPTIONS "SHELL:-platform_version macos 11.0 11.0" -adhoc_codesign)
set(VORN_MACHO_SUFFIX ".mexmaca64")
include(cmake/macho.cmake)
