#include "cfgkit/atomic_save.h"

#include <unistd.h>

#include <atomic>
#include <set>

namespace cfgkit {
namespace {

// ".<name>.<kind>.<pid>.<n>": unique within and across processes, and never a store file.
std::string HiddenName(const std::string& fileName, const char* kind) {
  static std::atomic<unsigned> counter{0};
  return "." + fileName + "." + kind + "." + std::to_string(::getpid()) + "." +
         std::to_string(counter.fetch_add(1));
}

constexpr std::string_view kLeftoverMarks[] = {".XML.tmp.", ".XML.old."};

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

struct Replaced {
  const StagedFile* file;
  std::string backupPath;  // empty when the target did not exist
};

// Puts back what the replaced targets held before. Best effort: this runs
// only after another failure, which is what gets reported.
void RollBack(FileOps& ops, const std::vector<Replaced>& replaced) {
  for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
    if (it->backupPath.empty()) {
      ops.Remove(it->file->targetPath()).IgnoreError();
    } else {
      ops.Rename(it->backupPath, it->file->targetPath()).IgnoreError();
    }
    ops.SyncDir(it->file->dir()).IgnoreError();
  }
}

}  // namespace

bool IsLeftoverOfSave(std::string_view fileName) {
  if (fileName.empty() || fileName.front() != '.') return false;
  for (std::string_view mark : kLeftoverMarks) {
    if (fileName.find(mark) != std::string_view::npos) return true;
  }
  return false;
}

std::string JoinPath(const std::string& dir, const std::string& fileName) {
  if (dir.empty() || dir.back() == '/') return dir + fileName;
  return dir + "/" + fileName;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : ops_(other.ops_),
      dir_(std::move(other.dir_)),
      tempPath_(std::move(other.tempPath_)),
      targetPath_(std::move(other.targetPath_)),
      pending_(other.pending_) {
  other.pending_ = false;
}

StagedFile::~StagedFile() {
  if (pending_) ops_.Remove(tempPath_).IgnoreError();
}

Status StagedFile::Stage(const std::string& dir, const std::string& fileName,
                         std::string_view bytes) {
  dir_ = dir;
  targetPath_ = JoinPath(dir, fileName);
  tempPath_ = JoinPath(dir, HiddenName(fileName, "tmp"));
  int fd = -1;
  Status status = ops_.CreateTemp(tempPath_, &fd);
  if (!status.ok()) return status;
  pending_ = true;
  status = ops_.Write(fd, bytes);
  if (status.ok()) status = ops_.Sync(fd);
  Status closed = ops_.Close(fd);
  if (status.ok()) status = closed;
  if (!status.ok()) {
    ops_.Remove(tempPath_).IgnoreError();
    pending_ = false;
  }
  return status;
}

Status ReplaceAll(FileOps& ops, std::vector<StagedFile>& files) {
  std::vector<Replaced> replaced;
  Status status;
  for (StagedFile& file : files) {
    std::string backupPath = JoinPath(file.dir(), HiddenName(FileNameOf(file.targetPath()), "old"));
    status = ops.Link(file.targetPath(), backupPath);
    if (status.IsNotFound()) {
      backupPath.clear();
      status = Status::OK();
    }
    if (!status.ok()) break;
    status = ops.Rename(file.tempPath(), file.targetPath());
    if (!status.ok()) {
      if (!backupPath.empty()) ops.Remove(backupPath).IgnoreError();
      break;
    }
    file.MarkRenamed();
    replaced.push_back({&file, std::move(backupPath)});
  }
  if (status.ok()) {
    std::set<std::string> dirs;
    for (const StagedFile& file : files) dirs.insert(file.dir());
    for (const std::string& dir : dirs) {
      status = ops.SyncDir(dir);
      if (!status.ok()) break;
    }
  }
  if (!status.ok()) {
    RollBack(ops, replaced);
    return status;
  }
  for (const Replaced& done : replaced) {
    if (!done.backupPath.empty()) ops.Remove(done.backupPath).IgnoreError();
  }
  return Status::OK();
}

}  // namespace cfgkit
