#pragma once

// Root checking a user's home (sudo -E kvd-doctor) acts as that user:
// thumbnailer entries in the home name the user's programs, and the user
// can change the folders --fix writes into at any moment, so nothing there
// may run or be written with more rights than the user has.

#include <filesystem>
#include <string>
#include <vector>

namespace kvd::doctor {

struct HomeOwnerSwitch {
  enum class Outcome {
    kUnchanged,  // not root, or root on a home of root's own
    kSwitched,   // now the home's owner, for good
    kRefused,    // the doctor must not go on
  };
  Outcome outcome = Outcome::kUnchanged;
  std::string found;  // kSwitched and kRefused: what the report says
  std::string todo;   // kRefused: the one thing to do
};

// When the process runs as root and home (or a folder along its path)
// belongs to another user, takes that user's groups, group and user id, in
// that order, each checked, so that root's rights cannot come back. Every
// one of folders (where the doctor finds programs to run or files to write)
// must belong to root or to that same user; otherwise, or when a step
// fails, the outcome is kRefused.
HomeOwnerSwitch ActAsHomeOwner(const std::filesystem::path& home, const std::vector<std::filesystem::path>& folders);

}  // namespace kvd::doctor
