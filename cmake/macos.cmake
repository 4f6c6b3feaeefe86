# The Intel macOS plug-in, vorn_hist2.mexmaci64: an x86-64 bundle.
# Minimum system 10.9 and SDK 10.10: ld64.lld writes LC_VERSION_MIN_MACOSX
# for targets this old. No code signature.
set(VORN_MACHO_OPTIONS "SHELL:-platform_version macos 10.9 10.10" -no_adhoc_codesign)
set(VORN_MACHO_SUFFIX ".mexmaci64")
include(cmake/macho.cmake)
