// SPDX-License-Identifier: MIT
#include "tests/reliability/simulated_disk.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

namespace tarvelin::testing {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"/\\");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Writes `size` bytes at `offset`, filling any gap before them with zeros,
// as a write past the end of a file does.
void Put(std::string* content, std::uint64_t offset, const char* bytes, std::size_t size) {
  const std::size_t at = static_cast<std::size_t>(offset);
  if (content->size() < at + size) content->resize(at + size);
  if (size > 0) std::memcpy(&(*content)[at], bytes, size);
}

class EntryView : public FileView {
 public:
  const std::string* Find(const std::wstring& path) const override {
    auto it = files.find(path);
    return it == files.end() ? nullptr : it->second;
  }
  std::map<std::wstring, const std::string*> files;
};

}  // namespace

const char* DamageName(Damage damage) {
  switch (damage) {
    case Damage::kDropUnflushed: return "unflushed data dropped";
    case Damage::kKeepAPrefix: return "a prefix of the unflushed data kept";
    case Damage::kGarbage: return "unflushed data turned to garbage";
  }
  return "?";
}

void SimulatedDisk::AddDurableFile(const std::wstring& path, const std::string& bytes) {
  files_.push_back(File{bytes, bytes, {}});
  entries_[path] = durable_entries_[path] = files_.size() - 1;
}

SimulatedDisk::FileId SimulatedDisk::Lookup(const std::wstring& path) const {
  auto it = entries_.find(path);
  return it == entries_.end() ? kNoFile : it->second;
}

SimulatedDisk::FileId SimulatedDisk::CreateIfMissing(const std::wstring& path) {
  FileId file = Lookup(path);
  if (file != kNoFile) return file;
  files_.emplace_back();
  file = files_.size() - 1;
  entries_[path] = file;
  unflushed_entries_.push_back(EntryChange{path, file});
  return file;
}

SimulatedDisk::FileId SimulatedDisk::CreateOrTruncate(const std::wstring& path) {
  const bool existed = Lookup(path) != kNoFile;
  const FileId file = CreateIfMissing(path);
  if (existed) Truncate(file, 0);
  return file;
}

void SimulatedDisk::Write(FileId file, std::uint64_t offset, const void* bytes,
                          std::size_t size) {
  File& f = files_.at(file);
  const char* data = static_cast<const char*>(bytes);
  Put(&f.current, offset, data, size);
  f.unflushed.push_back(Edit{false, offset, std::string(data, size)});
}

void SimulatedDisk::Truncate(FileId file, std::uint64_t size) {
  File& f = files_.at(file);
  f.current.resize(static_cast<std::size_t>(size));
  f.unflushed.push_back(Edit{true, size, std::string()});
}

void SimulatedDisk::Delete(const std::wstring& path) {
  entries_.erase(path);
  unflushed_entries_.push_back(EntryChange{path, kNoFile});
}

void SimulatedDisk::FlushFile(FileId file) {
  File& f = files_.at(file);
  f.durable = f.current;
  f.unflushed.clear();
}

void SimulatedDisk::FlushFolderOf(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  std::vector<EntryChange> still_unflushed;
  for (EntryChange& change : unflushed_entries_) {
    if (FolderOf(change.path) != folder) {
      still_unflushed.push_back(std::move(change));
    } else if (change.file == kNoFile) {
      durable_entries_.erase(change.path);
    } else {
      durable_entries_[change.path] = change.file;
    }
  }
  unflushed_entries_ = std::move(still_unflushed);
}

const std::string* SimulatedDisk::Damaged(const File& file, Damage damage, std::uint32_t seed,
                                          std::deque<std::string>* storage) {
  if (file.unflushed.empty() || damage == Damage::kDropUnflushed) return &file.durable;
  std::mt19937 random(seed);
  if (damage == Damage::kKeepAPrefix) {
    // A cut counts one unit for a size change and one per byte written.
    std::uint64_t units = 0;
    for (const Edit& edit : file.unflushed) units += edit.truncate ? 1 : edit.bytes.size();
    std::uint64_t budget = std::uniform_int_distribution<std::uint64_t>(0, units)(random);
    std::string content = file.durable;
    for (const Edit& edit : file.unflushed) {
      if (budget == 0) break;
      if (edit.truncate) {
        content.resize(static_cast<std::size_t>(edit.offset));
        --budget;
        continue;
      }
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(budget, edit.bytes.size()));
      Put(&content, edit.offset, edit.bytes.data(), take);
      budget -= take;
    }
    storage->push_back(std::move(content));
    return &storage->back();
  }
  std::string content = file.current;
  for (const Edit& edit : file.unflushed) {
    if (edit.truncate) continue;
    const std::size_t begin = std::min<std::size_t>(content.size(), edit.offset);
    const std::size_t end = std::min<std::size_t>(content.size(), edit.offset + edit.bytes.size());
    for (std::size_t i = begin; i < end; ++i) content[i] = static_cast<char>(random());
  }
  storage->push_back(std::move(content));
  return &storage->back();
}

void SimulatedDisk::VisitPowerLosses(
    Damage damage, std::uint32_t seed,
    const std::function<void(const FileView& files, std::size_t kept)>& visit) const {
  std::deque<std::string> storage;
  std::vector<const std::string*> content(files_.size(), nullptr);
  auto content_of = [&](FileId file) {
    if (content[file] == nullptr) {
      content[file] = Damaged(files_[file], damage, seed + static_cast<std::uint32_t>(file),
                              &storage);
    }
    return content[file];
  };
  std::map<std::wstring, FileId> entries = durable_entries_;
  for (std::size_t kept = 0;; ++kept) {
    EntryView view;
    for (const auto& [path, file] : entries) view.files[path] = content_of(file);
    visit(view, kept);
    if (kept == unflushed_entries_.size()) break;
    const EntryChange& change = unflushed_entries_[kept];
    if (change.file == kNoFile) {
      entries.erase(change.path);
    } else {
      entries[change.path] = change.file;
    }
  }
}

std::map<std::wstring, std::string> SimulatedDisk::CurrentFiles() const {
  std::map<std::wstring, std::string> current;
  for (const auto& [path, file] : entries_) current[path] = files_[file].current;
  return current;
}

}  // namespace tarvelin::testing
