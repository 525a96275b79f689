# SPDX-License-Identifier: GPL-3.0-or-later
# The one place that names the sanitizer flags.
#
# QUELMAR_SANITIZE=ON builds everything under AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer (the asan preset). The fuzz
# targets use the same list with libFuzzer on top (fuzz/CMakeLists.txt).
# Undefined behaviour stops the process, or a run would count it a pass.
set(QUELMAR_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

option(QUELMAR_SANITIZE "Build with ASan, UBSan and LSan" OFF)
if(QUELMAR_SANITIZE)
    add_compile_options(${QUELMAR_SANITIZER_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()
