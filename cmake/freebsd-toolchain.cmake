# Compiling for FreeBSD 14/amd64 on Linux with Debian's clang 16, against
# FreeBSD's own headers and Debian's libc++ 16 headers (FreeBSD 14 ships
# libc++ 16).  Nothing is linked: there are no FreeBSD libraries here, so the
# link rules only touch their output.  tools/freebsd-check.sh sets
# VORKA_FREEBSD_ROOT to the staged folder holding sysroot/ and extra/.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 14.0)
set(CMAKE_SYSTEM_PROCESSOR amd64)

if(NOT DEFINED ENV{VORKA_FREEBSD_ROOT})
  message(FATAL_ERROR "VORKA_FREEBSD_ROOT is not set (run make freebsd-check)")
endif()
set(freebsd_root "$ENV{VORKA_FREEBSD_ROOT}")
set(freebsd_triple x86_64-unknown-freebsd14.0)
set(libcxx_headers /usr/lib/llvm-16/include/c++/v1)

set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET ${freebsd_triple})
set(CMAKE_CXX_COMPILER_TARGET ${freebsd_triple})
set(CMAKE_SYSROOT ${freebsd_root}/sysroot)
set(CMAKE_AR llvm-ar-16)
set(CMAKE_RANLIB llvm-ranlib-16)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${libcxx_headers}")

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE "<CMAKE_COMMAND> -E touch <TARGET>")
  set(CMAKE_${lang}_CREATE_SHARED_LIBRARY "<CMAKE_COMMAND> -E touch <TARGET>")
  set(CMAKE_${lang}_CREATE_SHARED_MODULE "<CMAKE_COMMAND> -E touch <TARGET>")
endforeach()

# Headers and packages come from the FreeBSD side only.
set(CMAKE_FIND_ROOT_PATH ${freebsd_root}/extra)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${freebsd_root}/extra/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
