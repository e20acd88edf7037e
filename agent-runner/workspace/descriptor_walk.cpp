#include "agent-runner/workspace/descriptor_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "agent-runner/workspace/path_standardize.h"

namespace vorn {
namespace {

constexpr int kMaxLinkHops = 40;

std::string joined(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (!out.ends_with('/')) out += '/';
  out += name;
  return out;
}

// `path`'s components, last first, so the next one is at the back.
std::vector<std::string> componentsReversed(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    if (end > i) parts.emplace_back(path.substr(i, end - i));
    i = end + 1;
  }
  std::reverse(parts.begin(), parts.end());
  return parts;
}

std::string restText(const std::vector<std::string>& reversed) {
  std::string out;
  for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) {
    out += '/';
    out += *it;
  }
  return out;
}

std::optional<std::string> readLink(int linkFd) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlinkat(linkFd, "", buffer, sizeof buffer);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

class Walker {
 public:
  explicit Walker(RootSet& roots) : roots_(roots) {}

  // Starts at root `root` with `rest` below it.
  Walk from(std::size_t root, const std::string& prefix, std::string_view rest, LastLink last) {
    enterRoot(root, prefix);
    pending_ = componentsReversed(rest);
    return run(last);
  }

 private:
  void enterRoot(std::size_t root, const std::string& prefix) {
    owned_.reset();
    folder_ = roots_.fd(root);
    root_ = root;
    folderText_ = prefix;
    physical_.reset();
  }

  // The folder's real path, for placing a relative link target: the root's
  // real location and the folders walked since (none of them a link).
  std::string physicalFolder() {
    if (!physical_) {
      std::string base = roots_.realPath(root_);
      std::string below = relativeSinceRoot_;
      physical_ = below.empty() ? base : joined(base, below);
    }
    return *physical_;
  }

  Reached reached(std::vector<std::string> tail) {
    Reached r;
    r.folder.reset(owned_.valid() ? owned_.release() : ::fcntl(folder_, F_DUPFD_CLOEXEC, 0));
    r.folderText = folderText_;
    r.tail = std::move(tail);
    return r;
  }

  Reached missing(const std::string& name) {
    std::vector<std::string> tail{name};
    tail.insert(tail.end(), pending_.rbegin(), pending_.rend());
    return reached(std::move(tail));
  }

  Walk run(LastLink last) {
    while (!pending_.empty()) {
      std::string name = std::move(pending_.back());
      pending_.pop_back();
      if (isGitAdminName(name)) return Refused{};
      UniqueFd entry(::openat(folder_, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!entry.valid()) {
        if (errno == ENOENT) return missing(name);
        return Status::fromErrno(joined(folderText_, name));
      }
      struct stat st;
      if (::fstat(entry.get(), &st) != 0) return Status::fromErrno(joined(folderText_, name));
      bool isLast = pending_.empty();
      if (S_ISLNK(st.st_mode)) {
        auto target = readLink(entry.get());
        if (!target) return Status::fromErrno(joined(folderText_, name));
        if (isLast && last == LastLink::kKeep) return keptLink(name, st, *target);
        if (auto done = place(*target, name, st)) return std::move(*done);
        continue;
      }
      if (isLast || !S_ISDIR(st.st_mode)) {
        if (!isLast) return Status::fromErrno(joined(folderText_, name), ENOTDIR);
        Reached r = reached({name});
        r.there = true;
        r.st = st;
        return r;
      }
      descend(std::move(entry), name);
    }
    return reached({});
  }

  void descend(UniqueFd entry, const std::string& name) {
    owned_ = std::move(entry);
    folder_ = owned_.get();
    for (std::string* text : {&folderText_, &relativeSinceRoot_}) {
      if (!text->empty() && !text->ends_with('/')) *text += '/';
      *text += name;
    }
    physical_.reset();
  }

  // The link itself is the answer, but only when it does not lead to
  // something that exists outside the roots: where it leads is followed to
  // the end (and then forgotten) to find out.
  Walk keptLink(const std::string& name, const struct stat& st, const std::string& target) {
    Reached link = reached({name});
    link.there = true;
    link.st = st;
    auto verdict = place(target, name, st);
    if (!verdict) verdict = run(LastLink::kFollow);
    if (std::holds_alternative<Refused>(*verdict)) return Refused{};
    return link;
  }

  // Places a link's target beneath a root and continues there; or answers
  // where the walk ends because the target is outside every root.
  std::optional<Walk> place(const std::string& target, const std::string& name,
                            const struct stat& linkStat) {
    if (++hops_ > kMaxLinkHops) return Status::fromErrno(joined(folderText_, name), ELOOP);
    std::string absolute = target.starts_with('/') ? target : joined(physicalFolder(), target);
    std::string next = standardizePath(absolute + restText(pending_));
    auto match = roots_.find(next, true);
    if (!match) {
      // Only asked, never acted on: is anything out there?
      struct stat outside;
      if (::stat(standardizePath(absolute).c_str(), &outside) == 0) return Walk(Refused{});
      Reached r = missing(name);
      r.there = true;
      r.st = linkStat;
      r.danglingOutside = true;
      return Walk(std::move(r));
    }
    enterRoot(match->root, match->prefix);
    relativeSinceRoot_.clear();
    pending_ = componentsReversed(match->rest);
    return std::nullopt;
  }

  RootSet& roots_;
  std::size_t root_ = 0;
  int folder_ = -1;
  UniqueFd owned_;
  std::string folderText_;
  std::string relativeSinceRoot_;
  std::optional<std::string> physical_;
  std::vector<std::string> pending_;
  int hops_ = 0;
};

}  // namespace

std::string Reached::firstText() const {
  return tail.empty() ? folderText : joined(folderText, tail.front());
}

Walk walkBeneath(RootSet& roots, const std::string& candidate, LastLink last) {
  auto match = roots.find(candidate, false);
  if (!match) return Refused{};
  return Walker(roots).from(match->root, match->prefix, match->rest, last);
}

}  // namespace vorn
