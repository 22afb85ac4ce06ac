// File-system fixtures made from the Linux side: a second volume, symbolic links.
#pragma once
#include <cstdint>
#include <string>

namespace testing_support {

// sizeBytes > 0: a tmpfs of that size mounted for the test (needs the right to mount);
// 0: a fresh folder on /dev/shm, a file system of its own here. Mapped to a free drive
// letter of the prefix; unmapped, unmounted and removed when the object ends.
class SecondVolume {
 public:
  explicit SecondVolume(uint64_t sizeBytes = 0);
  ~SecondVolume();
  SecondVolume(const SecondVolume&) = delete;
  SecondVolume& operator=(const SecondVolume&) = delete;

  bool Ready() const { return !root_.empty(); }
  const std::string& WhyNot() const { return whyNot_; }  // for GTEST_SKIP when not ready
  const std::string& Root() const { return root_; }      // "R:", no trailing backslash
  std::string operator/(const std::string& relative) const { return root_ + "\\" + relative; }

 private:
  std::string unixFolder_;
  std::string drive_;  // "r:" in dosdevices
  bool mounted_ = false;
  std::string root_;
  std::string whyNot_;
};

// A symbolic link (Windows paths), as a local user could make one in their own profile;
// Wine shows a link to a folder as a reparse point. True when it was made.
bool MakeSymbolicLink(const std::string& target, const std::string& link);
// Removes the link itself. Needed before a ScratchFolder holding it ends: the shell's
// removal would empty what it points to.
void RemoveSymbolicLink(const std::string& link);

}  // namespace testing_support
