#include "doctor/home_owner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvd::doctor {
namespace {

namespace fs = std::filesystem;

struct Owner {
  uid_t uid = 0;
  gid_t gid = 0;
  fs::path folder;
};

// Whoever can change what path leads to: the owner of the first folder
// along it, from the path itself up, that is not root's; root when all are.
// Links are followed, and the folder holding a link is looked at too.
Owner OwnerOf(const fs::path& path) {
  std::error_code error;
  fs::path at = fs::absolute(path, error);
  if (error) at = path;
  for (;;) {
    struct stat info {};
    if (stat(at.c_str(), &info) == 0 && info.st_uid != 0) return {info.st_uid, info.st_gid, at};
    if (!at.has_relative_path()) return {0, 0, at};
    at = at.parent_path();
  }
}

// "alice (uid 1000)", or "uid 1000" for a user the system does not know.
std::string UserName(uid_t uid, const std::string& more = "") {
  const passwd* user = getpwuid(uid);
  const std::string ids = "uid " + std::to_string(uid) + more;
  return user != nullptr ? std::string(user->pw_name) + " (" + ids + ")" : ids;
}

std::string Failed(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

// The user's supplementary groups as the system lists them; only the
// primary group for a user the system does not know.
std::vector<gid_t> GroupsOf(const passwd* user, gid_t gid) {
  if (user == nullptr) return {gid};
  int count = 0;
  getgrouplist(user->pw_name, gid, nullptr, &count);
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(user->pw_name, gid, groups.data(), &count) < 0) return {gid};
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

// Groups first and the user id last: once the user id is given up, the
// groups could no longer be changed. "" when every step held.
std::string BecomeUser(const Owner& owner) {
  const passwd* user = getpwuid(owner.uid);
  const gid_t gid = user != nullptr ? user->pw_gid : owner.gid;
  const std::vector<gid_t> groups = GroupsOf(user, gid);
  if (setgroups(groups.size(), groups.data()) != 0) return Failed("setgroups");
  if (setgid(gid) != 0) return Failed("setgid");
  if (setuid(owner.uid) != 0) return Failed("setuid");
  if (getuid() != owner.uid || geteuid() != owner.uid || getgid() != gid || getegid() != gid) {
    return "the user and group ids did not all change";
  }
  if (setuid(0) == 0) return "root's rights could be taken back";
  return "";
}

}  // namespace

HomeOwnerSwitch ActAsHomeOwner(const fs::path& home, const std::vector<fs::path>& folders) {
  if (geteuid() != 0) return {};
  const Owner owner = OwnerOf(home);
  for (const fs::path& folder : folders) {
    const Owner other = OwnerOf(folder);
    if (other.uid != 0 && other.uid != owner.uid) {
      return {HomeOwnerSwitch::Outcome::kRefused,
              other.folder.string() + " belongs to " + UserName(other.uid) + ", but HOME " + home.string() +
                  " to " + UserName(owner.uid),
              "run kvd-doctor as the user whose home it is, in that user's own session"};
    }
  }
  if (owner.uid == 0) return {};
  if (const std::string failed = BecomeUser(owner); !failed.empty()) {
    return {HomeOwnerSwitch::Outcome::kRefused,
            owner.folder.string() + " belongs to " + UserName(owner.uid) +
                ", whose rights the doctor could not take (" + failed + ")",
            "run kvd-doctor as that user instead"};
  }
  return {HomeOwnerSwitch::Outcome::kSwitched,
          "running as " + UserName(owner.uid, ", gid " + std::to_string(getgid())) + ", the owner of " +
              owner.folder.string() + ", not as root",
          ""};
}

}  // namespace kvd::doctor
