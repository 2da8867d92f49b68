// SPDX-License-Identifier: MIT
#include "cli/operation_session.h"

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace tarvelin::cli {

OperationSession::OperationSession(const Invocation& invocation, const std::string& command)
    : platform_(DefaultPlatform()),
      path_(Utf8ToWide(invocation.files[0])),
      shown_(invocation.files[0]),
      prefix_(command + " " + invocation.files[0] + ": "),
      display_(ShowsProgress(invocation), stderr, StderrColumns()),
      watch_(display_) {
  names_fit_ = set_.Derive(path_.c_str());
  options_.platform = &platform_;
  options_.failure = &report_;
  watch_.Attach(&options_);
}

std::string OperationSession::NamesAPartOfTheSplit() {
  if (!names_fit_) return "";
  const std::string ask = "; give the name of the file to rebuild, with its extension";
  if (path_ == set_.manifest()) return shown_ + " is the manifest of a split" + ask;
  if (!platform_.PathFileExists(set_.manifest())) return "";
  const std::wstring base = set_.base();
  if (path_.size() <= base.size() + 1 || path_.compare(0, base.size(), base) != 0) return "";
  const std::wstring number = path_.substr(base.size() + 1);
  if (number.size() > 9 || number.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return "";
  }
  const std::int32_t piece = std::stoi(number);
  if (set_.PieceName(piece) != path_) return "";
  return shown_ + " is piece " + std::to_string(piece) + " of the split recorded in " +
         Shown(set_.manifest()) + ask;
}

std::string OperationSession::ManifestIsAFolder() {
  EntryAttributes entry;
  if (!names_fit_ || !platform_.GetFileAttributes(set_.manifest(), &entry) ||
      entry.kind != EntryKind::kFolder) {
    return "";
  }
  return "the manifest " + Shown(set_.manifest()) + " is a folder, not a manifest";
}

bool OperationSession::ReadRecord() {
  const FileHandle manifest =
      platform_.CreateFile(set_.manifest(), kAccessRead, kShareRead | kShareWrite,
                           Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (manifest == InvalidHandle()) return false;
  const bool read = set_.ReadRecord(platform_, manifest);
  platform_.CloseHandle(manifest);
  return read;
}

int OperationSession::RefuseWhatIsNoFileToRebuild() {
  const std::string part = NamesAPartOfTheSplit();
  if (!part.empty()) {
    PrintError(prefix_ + part);
    return kExitUsage;
  }
  const std::string folder = ManifestIsAFolder();
  return folder.empty() ? -1 : Refuse(folder);
}

int OperationSession::Fail(ResultCode code, bool file_existed, const std::string& lead) {
  Finish();
  const FailureContext context{&platform_, &set_, file_existed};
  PrintError(prefix_ + lead + DescribeFailure(code, report_, context) + CodeSuffix(code));
  return kExitFailure;
}

int OperationSession::Refuse(const std::string& text) {
  Finish();
  PrintError(prefix_ + text);
  return kExitFailure;
}

}  // namespace tarvelin::cli
