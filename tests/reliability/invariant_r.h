// SPDX-License-Identifier: MIT
// Invariant R: whatever happened to a split or a merge, the original bytes can
// be rebuilt from the files that are there. It holds when one of these does:
//   1. the file at the path is whole: the source before a split's deletion
//      took effect, or the rebuilt file once a merge has written every byte;
//   2. no whole file is at the path, the pieces 0.. join into the original,
//      and the manifest vouches for them: its source fingerprint is the
//      original's and its fingerprint of every piece is that piece's;
//   3. a file is at the path, the pieces 0..m-1 are gone and m.. are there,
//      and the file's first k bytes followed by those pieces are the original,
//      k being what the pieces m.. leave unaccounted for (the bytes of the
//      pieces already merged and deleted). A manifest that is there must
//      vouch for the pieces that are left.
// Piece files past the last one the manifest records are not counted: an
// earlier, longer split may have left them.
#ifndef TARVELIN_TESTS_RELIABILITY_INVARIANT_R_H_
#define TARVELIN_TESTS_RELIABILITY_INVARIANT_R_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace tarvelin::testing {

// The files as the checker sees them: the real disk, or a state held in
// memory such as the one a power loss would leave.
class FileView {
 public:
  virtual ~FileView() = default;
  // The bytes of the file at `path`, or null when no file is there. The
  // pointer stays valid as long as the view.
  virtual const std::string* Find(const std::wstring& path) const = 0;
};

// The files on disk, each read once, when first asked for.
class DiskFiles : public FileView {
 public:
  const std::string* Find(const std::wstring& path) const override;

 private:
  mutable std::map<std::wstring, std::optional<std::string>> read_;
};

// Files held in memory, by path.
class MemoryFiles : public FileView {
 public:
  MemoryFiles() = default;
  explicit MemoryFiles(std::map<std::wstring, std::string> files) : files_(std::move(files)) {}
  const std::string* Find(const std::wstring& path) const override;
  std::map<std::wstring, std::string>& files() { return files_; }

 private:
  std::map<std::wstring, std::string> files_;
};

// Checks R for one original, many times over: the fingerprints of the
// original's slices are computed once.
class InvariantR {
 public:
  // `source_path` is the path given to the split and the merge; `base_path`
  // the same without its extension (the pieces are base.0, base.1, ... and
  // the manifest base.DAT).
  InvariantR(std::wstring source_path, std::wstring base_path, std::string original);

  ::testing::AssertionResult Holds(const FileView& files) const {
    return Holds(files, source_path_, base_path_);
  }
  // The same original split or merged at other paths, as in a sweep whose
  // every case runs in a folder of its own.
  ::testing::AssertionResult Holds(const FileView& files, const std::wstring& source_path,
                                   const std::wstring& base_path) const;

 private:
  // The fingerprint text of original[offset, offset + size).
  const std::wstring& SliceFingerprint(std::size_t offset, std::size_t size) const;

  std::wstring source_path_;
  std::wstring base_path_;
  std::string original_;
  mutable std::map<std::pair<std::size_t, std::size_t>, std::wstring> slice_fingerprints_;
};

// R over the files on disk now.
::testing::AssertionResult HoldsR(const std::wstring& source_path, const std::wstring& base_path,
                                  const std::string& original);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_INVARIANT_R_H_
