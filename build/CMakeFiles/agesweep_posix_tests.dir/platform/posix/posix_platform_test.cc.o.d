CMakeFiles/agesweep_posix_tests.dir/platform/posix/posix_platform_test.cc.o: \
 /work/main/platform/posix/posix_platform_test.cc \
 /usr/include/stdc-predef.h
