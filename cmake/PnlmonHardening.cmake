# The usual hardening of a distribution build, for a plain
# "cmake -B build && cmake --build build": stack protector, stack clash
# protection, control-flow protection where the target has it, format string
# checks, _FORTIFY_SOURCE in optimised builds, full RELRO with immediate
# binding, and position-independent executables.
#
# Sets PNLMON_HARDENING_COMPILE_OPTIONS and PNLMON_HARDENING_LINK_OPTIONS for
# targets that replace the directory's options with their own (the preload
# shim, built without sanitizers).
include(CheckCCompilerFlag)
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

function(pnlmon_default_hardening)
  set(compile -Wformat -Werror=format-security)
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "PNLMON_HAS${flag}" var)
    check_cxx_compiler_flag(${flag} ${var}_CXX)
    check_c_compiler_flag(${flag} ${var}_C)
    if(${var}_CXX AND ${var}_C)
      list(APPEND compile ${flag})
    endif()
  endforeach()
  # Optimised configurations only: without optimisation the C library warns
  # that it cannot fortify anything. The sanitizer builds leave it out: it
  # would route calls around their interceptors.
  set(fortify $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  list(APPEND compile_unsanitized ${compile} ${fortify})
  if(SANITIZE STREQUAL "")
    list(APPEND compile ${fortify})
  endif()
  set(link "")
  check_linker_flag(CXX "LINKER:-z,relro,-z,now" PNLMON_HAS_RELRO_NOW)
  if(PNLMON_HAS_RELRO_NOW)
    list(APPEND link "LINKER:-z,relro,-z,now")
  endif()
  add_compile_options(${compile})
  add_link_options(${link})
  set(PNLMON_HARDENING_COMPILE_OPTIONS ${compile_unsanitized} PARENT_SCOPE)
  set(PNLMON_HARDENING_LINK_OPTIONS ${link} PARENT_SCOPE)
  # With POSITION_INDEPENDENT_CODE on (the project sets it), executables
  # are linked with -pie where the toolchain supports it.
  check_pie_supported(LANGUAGES C CXX)
endfunction()
