CMakeFiles/agesweep_posix_tests.dir/tests/e2e_test.cc.o: \
 /work/main/tests/e2e_test.cc /usr/include/stdc-predef.h
