// Folders of this test program: the scan logs go to a private XDG_DATA_HOME
// and the fixture volume is cached under the build tree, unless the caller
// already chose them.
#include <cstdlib>

namespace {

const bool kEnvironment = [] {
  setenv("XDG_DATA_HOME", NUVARIN_NTFS_TEST_XDG, 0);
  setenv("NUVARIN_NTFS_FIXTURE_CACHE", NUVARIN_NTFS_TEST_CACHE, 0);
  return true;
}();

}  // namespace
