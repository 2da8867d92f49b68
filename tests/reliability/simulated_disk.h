// SPDX-License-Identifier: MIT
// A model of what stable storage holds, beside what the system shows, for the
// files that a test watches. It keeps for every file its content as of its
// last flush and the edits made since, and for every folder its entries as of
// its last flush and the creations and deletions made since. From that it
// builds the files that a power loss at this moment could leave: POSIX makes
// a file's data durable with fsync of the file, and an entry that was created
// or deleted only with fsync of its folder.
#ifndef TARVELIN_TESTS_RELIABILITY_SIMULATED_DISK_H_
#define TARVELIN_TESTS_RELIABILITY_SIMULATED_DISK_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/reliability/invariant_r.h"

namespace tarvelin::testing {

// What a power loss does to the data written since a file's last flush.
enum class Damage {
  kDropUnflushed,  // none of it reached the disk
  kKeepAPrefix,    // the edits reached the disk in order up to a random byte
  kGarbage,        // the file has its present size, but every byte written
                   // since the flush holds garbage
};
constexpr Damage kEveryDamage[] = {Damage::kDropUnflushed, Damage::kKeepAPrefix,
                                   Damage::kGarbage};
const char* DamageName(Damage damage);

class SimulatedDisk {
 public:
  // A file's identity, which outlives its name: a deleted file can come back
  // after a power loss, and its name may meanwhile name a new file.
  using FileId = std::size_t;
  static constexpr FileId kNoFile = static_cast<FileId>(-1);

  // A file that is on stable storage already, entry and data.
  void AddDurableFile(const std::wstring& path, const std::string& bytes);

  // The file at `path` now, or kNoFile.
  FileId Lookup(const std::wstring& path) const;
  // The file at `path`, created empty when there is none.
  FileId CreateIfMissing(const std::wstring& path);
  // As CreateIfMissing, and an existing file is cut to 0 bytes.
  FileId CreateOrTruncate(const std::wstring& path);

  void Write(FileId file, std::uint64_t offset, const void* bytes, std::size_t size);
  void Truncate(FileId file, std::uint64_t size);
  void Delete(const std::wstring& path);
  void FlushFile(FileId file);
  // Makes durable the creations and deletions in the folder that holds `path`.
  void FlushFolderOf(const std::wstring& path);

  // Creations and deletions not yet followed by a flush of their folder.
  std::size_t unflushed_folder_changes() const { return unflushed_entries_.size(); }

  // Visits every state that a power loss now could leave under `damage`:
  // the folders hold their flushed entries followed by the first `kept` of
  // the unflushed changes, for kept = 0 (every change undone) up to all of
  // them, since file systems journal entry changes in the order they were
  // made. A deleted file whose deletion is undone comes back with its own
  // content, damaged in the same way. `seed` makes the random choices.
  void VisitPowerLosses(Damage damage, std::uint32_t seed,
                        const std::function<void(const FileView& files, std::size_t kept)>& visit)
      const;

  // What the system shows of `file` now.
  const std::string& CurrentContent(FileId file) const { return files_.at(file).current; }
  // The files as the system shows them now, by path.
  std::map<std::wstring, std::string> CurrentFiles() const;

 private:
  struct Edit {
    bool truncate;         // cut or extend to `offset` bytes; else a write
    std::uint64_t offset;  // where the write starts, or the size cut to
    std::string bytes;     // what was written
  };
  struct File {
    std::string durable;
    std::string current;
    std::vector<Edit> unflushed;
  };
  struct EntryChange {
    std::wstring path;
    FileId file;  // kNoFile for a deletion
  };

  // The content after a power loss; points into `storage` or into the file.
  static const std::string* Damaged(const File& file, Damage damage, std::uint32_t seed,
                                    std::deque<std::string>* storage);

  std::vector<File> files_;
  std::map<std::wstring, FileId> entries_;
  std::map<std::wstring, FileId> durable_entries_;
  std::vector<EntryChange> unflushed_entries_;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_SIMULATED_DISK_H_
