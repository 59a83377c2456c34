# Included after project() in the kernel test's static build: every library
# is linked from its archive, for the guest has no shared libraries of ours.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
