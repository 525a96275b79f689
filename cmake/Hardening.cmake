# SPDX-License-Identifier: GPL-3.0-or-later
# The hardening Debian's own builds get, on by default for optimised builds
# with GCC or Clang: fortified C library calls, stack protector and
# stack-clash protection, full RELRO with immediate binding, and position
# independent executables. The sanitizer and fuzz builds bring their own
# instrumentation and go without it.
option(QUELMAR_HARDENING "Harden optimised builds as Debian does" ON)

if(QUELMAR_HARDENING AND NOT QUELMAR_SANITIZE AND NOT QUELMAR_BUILD_FUZZ
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    include(CheckPIESupported)
    check_pie_supported()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    # Fortified calls need the optimiser; a Debug build would only warn.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>
                        -fstack-protector-strong -fstack-clash-protection)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
