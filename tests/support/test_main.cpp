// The main of every test program. The tests run under the common umask 022, not whatever the
// caller has: a private file or folder must be private by the tool's own doing, and under a
// umask of 077 a file the tool left at 0644 would still read 0600.
#include <sys/stat.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::umask(022);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
