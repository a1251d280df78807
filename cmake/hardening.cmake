# How the program is hardened and linked: what a file read by sondrel,
# which may come from anyone, finds in the way. Decides the compiler's and
# the linker's hardening options (hardening_options, for the program's own
# code), position-independent code and RELRO, and, per program, the static
# link (sondrel_link_program). The test of the result is tests/hardening.sh.
# Hardened the way Debian hardens its packages: a file read by sondrel may
# come from anyone. The program's own code (the core and the entry) gets
# these; sanitizer and fuzz builds have checks of their own, and FORTIFY
# needs an optimised build.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
set(hardening_options)
if(NOT SONDREL_SANITIZE)
  list(APPEND hardening_options -fstack-protector-strong
    $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  if(WIN32)
    # mingw-w64 links the stack protector's libssp statically (the -static
    # below); it seeds the guard with ADVAPI32's CryptGenRandom, so the
    # executable imports that system DLL too. DYNAMIC_BASE, NX_COMPAT and HIGH_ENTROPY_VA are binutils'
    # defaults and are asked for anyway, so a change of default cannot drop
    # them. Control Flow Guard it cannot give: GCC makes no guard checks and
    # ld writes no guard table.
    add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
  else()
    # Not every machine's compiler has these (-fcf-protection is x86 only).
    check_cxx_compiler_flag(-fstack-clash-protection SONDREL_HAVE_STACK_CLASH)
    check_cxx_compiler_flag(-fcf-protection SONDREL_HAVE_CF_PROTECTION)
    if(SONDREL_HAVE_STACK_CLASH)
      list(APPEND hardening_options -fstack-clash-protection)
    endif()
    # Marks the program's own objects for CET (IBT and shadow stack). The
    # linked executable cannot claim it: Debian 12's static C library carries
    # no CET note, and the linker keeps only what every object has.
    if(SONDREL_HAVE_CF_PROTECTION)
      list(APPEND hardening_options -fcf-protection)
    endif()
  endif()
endif()
if(NOT WIN32)
  # Position-independent code everywhere, for an executable (-fPIE even in
  # the core library: -fPIC would let every global function be replaced at
  # load time, so none would be inlined, and each line would cost more);
  # RELRO with immediate binding, so nothing the loader fills stays writable
  # once the program runs.
  add_compile_options(-fPIE)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
  check_linker_flag(CXX -static-pie SONDREL_HAVE_STATIC_PIE)
  # The start-up relocations in the packed form (DT_RELR), which the C
  # library applies in a fraction of the time, where the linker has it.
  check_linker_flag(CXX -Wl,-z,pack-relative-relocs SONDREL_HAVE_RELR)
endif()

# Links a program of this project the way a release ships it.
function(sondrel_link_program target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti ${hardening_options})
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  # Process start-up is most of a run's cost: a static executable skips the
  # dynamic loader. Position-independent where the C library allows it, so the
  # writable tables (g_platform) sit at a new address each run. Sanitizer
  # builds need the shared runtime. A build for another machine is static in
  # every configuration, so that the emulator can start it.
  if(NOT SONDREL_SANITIZE AND (CMAKE_BUILD_TYPE STREQUAL "Release" OR CMAKE_CROSSCOMPILING))
    if(SONDREL_HAVE_STATIC_PIE AND CMAKE_BUILD_TYPE STREQUAL "Release")
      target_link_options(${target} PRIVATE -static-pie $<$<BOOL:${SONDREL_HAVE_RELR}>:-Wl,-z,pack-relative-relocs>)
    else()
      target_link_options(${target} PRIVATE -static)
    endif()
  endif()
  if(MINGW)
    # The linker would write the time of the link into the executable's header;
    # without it two builds of the same sources give the same executable.
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()
