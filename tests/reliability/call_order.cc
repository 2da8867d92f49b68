// SPDX-License-Identifier: MIT
#include "tests/reliability/call_order.h"

#include <cwctype>
#include <map>

namespace tarvelin::testing {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"/\\");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class OrderCheck {
 public:
  OrderCheck(const std::wstring& source, const std::wstring& base)
      : source_(source), manifest_(base + L".DAT"), piece_prefix_(base + L"."),
        folder_(FolderOf(source)) {}

  ::testing::AssertionResult Run(const std::vector<Call>& calls) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].failed) continue;
      if (!Step(i + 1, calls[i])) return std::move(failure_);
    }
    return ::testing::AssertionSuccess();
  }

 private:
  bool IsPiece(const std::wstring& path) const {
    if (path.size() <= piece_prefix_.size() || path.compare(0, piece_prefix_.size(), piece_prefix_) != 0) {
      return false;
    }
    for (std::size_t i = piece_prefix_.size(); i < path.size(); ++i) {
      if (!std::iswdigit(path[i])) return false;
    }
    return true;
  }
  bool IsPieceOrManifest(const std::wstring& path) const {
    return path == manifest_ || IsPiece(path);
  }
  // `path` without the folder, which all the files share.
  std::string Short(const std::wstring& path) const {
    return Narrow(path.compare(0, folder_.size(), folder_) == 0 ? path.substr(folder_.size())
                                                                 : path);
  }
  bool Fail(std::size_t number, const Call& call, const std::string& why) {
    failure_ = ::testing::AssertionFailure()
               << "call " << number << " (" << PlatformCallName(call.op) << " "
               << Short(call.path) << ") " << why;
    return false;
  }

  bool Step(std::size_t number, const Call& call) {
    const std::wstring& path = call.path;
    switch (call.op) {
      case Op::kCreateFile:
        if (IsPieceOrManifest(path) && call.creates) entries_unflushed_ = true;
        // The first open of the rebuilt file may have made it; a later one
        // (a check of its name) makes nothing.
        if (path == source_ && (call.creates || !rebuilt_created_)) {
          rebuilt_created_ = true;
          rebuilt_entry_durable_ = false;
        }
        break;
      case Op::kReadFile:
        if (IsPiece(path)) last_piece_read_ = path;
        break;
      case Op::kWriteFile:
        if (IsPieceOrManifest(path)) unflushed_[path] = true;
        if (path == source_ && !last_piece_read_.empty()) last_append_[last_piece_read_] = number;
        break;
      case Op::kWriteProfileString:
        // The profile write may create the file as well.
        if (path == manifest_) unflushed_[path] = entries_unflushed_ = true;
        break;
      case Op::kFlushFileBuffers:
        unflushed_[path] = false;
        if (path == source_) rebuilt_flushed_at_ = number;
        break;
      case Op::kFlushFolderOf:
        if (FolderOf(path) == folder_) {
          entries_unflushed_ = false;
          rebuilt_entry_durable_ = rebuilt_created_;
        }
        break;
      case Op::kDeleteFile:
      case Op::kDeleteAndClose:
        return Deleting(number, call);
      default:
        break;
    }
    return true;
  }

  bool Deleting(std::size_t number, const Call& call) {
    const std::wstring& path = call.path;
    if (manifest_deleted_) return Fail(number, call, "deletes after the manifest was deleted");
    if (path == manifest_) manifest_deleted_ = true;
    if (path == source_) {
      for (const auto& [file, unflushed] : unflushed_) {
        if (unflushed) {
          return Fail(number, call,
                      "deletes the source before " + Short(file) +
                          " was flushed after its last write");
        }
      }
      if (entries_unflushed_) {
        return Fail(number, call, "deletes the source before the folder was flushed");
      }
    }
    if (IsPiece(path)) {
      if (!rebuilt_entry_durable_) {
        return Fail(number, call, "deletes a piece before the rebuilt file's entry was flushed");
      }
      auto append = last_append_.find(path);
      if (append != last_append_.end() && rebuilt_flushed_at_ < append->second) {
        return Fail(number, call,
                    "deletes a piece before the rebuilt file was flushed after call " +
                        std::to_string(append->second) + ", its last append");
      }
    }
    return true;
  }

  const std::wstring source_;
  const std::wstring manifest_;
  const std::wstring piece_prefix_;
  const std::wstring folder_;
  std::map<std::wstring, bool> unflushed_;
  bool entries_unflushed_ = false;
  bool rebuilt_created_ = false;
  bool rebuilt_entry_durable_ = false;
  std::wstring last_piece_read_;
  std::map<std::wstring, std::size_t> last_append_;
  std::size_t rebuilt_flushed_at_ = 0;
  bool manifest_deleted_ = false;
  ::testing::AssertionResult failure_ = ::testing::AssertionSuccess();
};

}  // namespace

::testing::AssertionResult DeletesOnlyWhatIsDurable(const std::vector<Call>& calls,
                                                    const std::wstring& source_path,
                                                    const std::wstring& base_path) {
  return OrderCheck(source_path, base_path).Run(calls);
}

}  // namespace tarvelin::testing
