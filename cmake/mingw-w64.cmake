# Cross build for Windows with mingw-w64, posix threads (for std::thread in
# the program and in GoogleTest), for the architecture CHECKLUM_WINDOWS_ARCH
# names:
# - i686 (the default), the product: CheckLUM.exe is a 32-bit program, as the
#   old release was; on 64-bit Windows it works in the 32-bit registry view,
#   where the old release left its uninstall entry and where the new release
#   reads the product key. Its tests run in a 64-bit Wine prefix with Wine's
#   32-bit half (wine32), as the program runs on 64-bit Windows.
# - x86_64, for the tests where the kernel runs no 32-bit programs, so that
#   Wine's 32-bit half cannot start. Every key is opened in the 32-bit view
#   (KEY_WOW64_32KEY), so this build reaches the keys CheckLUM.exe reaches
#   on 64-bit Windows.
# CTest runs the test programs of either under Wine (scripts/wine-run).
# The runtime is linked statically, so that the programs run on a bare
# Windows.
if(NOT CHECKLUM_WINDOWS_ARCH)
  set(CHECKLUM_WINDOWS_ARCH i686)
endif()
# The compiler checks configure projects of their own, which see the
# variable only through this list.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CHECKLUM_WINDOWS_ARCH)
set(triple ${CHECKLUM_WINDOWS_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${CHECKLUM_WINDOWS_ARCH})
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
